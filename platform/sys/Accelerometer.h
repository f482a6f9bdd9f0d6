// The accelerometer: samples in g, handed by the driver to one delegate.
#pragma once

namespace plat::sys {

struct Acceleration {
    double x = 0, y = 0, z = 0;
    double timestamp = 0;  // seconds of the process clock
};

class Accelerometer;

class AccelerometerDelegate {
public:
    virtual ~AccelerometerDelegate() = default;
    virtual void didAccelerate(Accelerometer& accelerometer, const Acceleration& acceleration) = 0;
};

// One per process, used on the main thread.
class Accelerometer {
public:
    static Accelerometer& shared();

    // Not owned: a delegate clears itself before it goes.
    AccelerometerDelegate* delegate() const { return m_delegate; }
    void setDelegate(AccelerometerDelegate* delegate) { m_delegate = delegate; }
    // Seconds between samples a real sensor is read at (injected samples come when they come).
    double updateInterval() const { return m_updateInterval; }
    void setUpdateInterval(double seconds) {
        if (seconds > 0) m_updateInterval = seconds;
    }

    // The driver's sample: false when there is no delegate to take it.
    bool deliver(const Acceleration& acceleration);

    void reset() {
        m_delegate = nullptr;
        m_updateInterval = kDefaultUpdateInterval;
    }

    static constexpr double kDefaultUpdateInterval = 0.1;

private:
    Accelerometer() = default;
    AccelerometerDelegate* m_delegate = nullptr;
    double m_updateInterval = kDefaultUpdateInterval;
};

}  // namespace plat::sys
