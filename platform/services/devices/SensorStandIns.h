// The motion and location services a desktop lacks, as stand-ins: a motion manager ("CMMotionManager")
// whose readings the input sets, and a location manager ("CLLocationManager") whose fixes and headings
// the input feeds to its delegate. Each exists only while its configuration does, which
// registerSensorClasses (SensorServices.h) reads from the container's service files. What they are
// asked to do is traced ("motion ...", "location ...") and told to one listener. Main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plat::devices {

inline constexpr const char* kMotionManagerClassName = "CMMotionManager";
inline constexpr const char* kMotionService = "motion";
inline constexpr const char* kLocationManagerClassName = "CLLocationManager";
inline constexpr const char* kLocationService = "location";
inline constexpr const char* kAccelerometerClassName = "UIAccelerometer";

// Besides the trace, each stand-in's line goes to this listener (a tool prints them); null: none.
void setSensorTraceListener(std::function<void(std::string_view line)> listener);

// ---- motion ----

enum class MotionSensor { Accelerometer, Gyro, Attitude };
// "accel", "gyro", "attitude".
const char* motionSensorName(MotionSensor sensor);
std::optional<MotionSensor> parseMotionSensor(std::string_view name);

// Acceleration in g, rotation rate in radians per second, or roll, pitch and yaw in radians.
struct MotionReading {
    double x = 0, y = 0, z = 0;
};

struct MotionConfiguration {
    bool gyroAvailable = false;
    bool deviceMotionAvailable = false;
};

class MotionManager {
public:
    // The service's configuration now; nullopt while it is absent.
    using ConfigurationSource = std::function<std::optional<MotionConfiguration>()>;
    static void setConfigurationSource(ConfigurationSource source);
    static std::optional<MotionConfiguration> configuration();

    MotionManager() = default;
    ~MotionManager();
    MotionManager(const MotionManager&) = delete;
    MotionManager& operator=(const MotionManager&) = delete;

    bool isGyroAvailable() const;
    bool isDeviceMotionAvailable() const;

    double updateInterval(MotionSensor sensor) const { return m_members[index(sensor)].interval; }
    void setUpdateInterval(MotionSensor sensor, double seconds);
    void startUpdates(MotionSensor sensor);
    void stopUpdates(MotionSensor sensor);
    bool isActive(MotionSensor sensor) const { return m_members[index(sensor)].active; }
    // The sensor's latest reading while its updates run; zeros before the first and while stopped.
    MotionReading latest(MotionSensor sensor) const;

    // The input's reading of `sensor`, seen by every manager from now on.
    static void setReading(MotionSensor sensor, MotionReading reading);
    // Readings back to nothing delivered (tests).
    static void resetReadings();

private:
    static int index(MotionSensor sensor) { return static_cast<int>(sensor); }
    struct Member {
        double interval = 0;
        bool active = false;
    };
    Member m_members[3];
};

// ---- location ----

struct LocationConfiguration {
    bool headingAvailable = false;
};

// A fix as the platform reports it: degrees, metres, metres per second; -1 for what is unknown.
struct Location {
    double latitude = 0, longitude = 0;
    double altitude = 0, course = -1, speed = -1;
    double horizontalAccuracy = 0, verticalAccuracy = -1;
    double timestamp = 0;  // seconds since 1970
};

struct Heading {
    double magneticHeading = 0;  // degrees
    double timestamp = 0;
};

class LocationManager;

class LocationManagerDelegate {
public:
    virtual ~LocationManagerDelegate() = default;
    virtual void didUpdateToLocation(LocationManager& manager, const Location& location,
                                     const std::optional<Location>& previous) = 0;
    virtual void didUpdateHeading(LocationManager& manager, const Heading& heading) = 0;
};

class LocationManager {
public:
    using ConfigurationSource = std::function<std::optional<LocationConfiguration>()>;
    static void setConfigurationSource(ConfigurationSource source);
    static std::optional<LocationConfiguration> configuration();
    // The class question: false while the service is absent.
    static bool headingAvailable();
    // Managers alive now.
    static int liveCount();

    LocationManager();
    ~LocationManager();
    LocationManager(const LocationManager&) = delete;
    LocationManager& operator=(const LocationManager&) = delete;

    // Not owned: a delegate clears itself (or lets the manager go) before it goes.
    LocationManagerDelegate* delegate() const { return m_delegate; }
    void setDelegate(LocationManagerDelegate* delegate) { m_delegate = delegate; }

    double desiredAccuracy() const { return m_desiredAccuracy; }
    void setDesiredAccuracy(double metres);
    // Fixes closer than this to the last one told are not told (0: every one).
    double distanceFilter() const { return m_distanceFilter; }
    void setDistanceFilter(double metres);
    // Headings turned less than this from the last one told are not told.
    double headingFilter() const { return m_headingFilter; }
    void setHeadingFilter(double degrees);

    void startUpdatingLocation();
    void stopUpdatingLocation();
    void startUpdatingHeading();
    void stopUpdatingHeading();
    bool isUpdatingLocation() const { return m_updatingLocation; }
    bool isUpdatingHeading() const { return m_updatingHeading; }
    int locationStarts() const { return m_locationStarts; }
    int headingStarts() const { return m_headingStarts; }

    // The input's fix or heading, told to every manager updating it, through its filter.
    static void deliverLocation(const Location& location);
    static void deliverHeading(const Heading& heading);

private:
    void tellLocation(const Location& location);
    void tellHeading(const Heading& heading);

    LocationManagerDelegate* m_delegate = nullptr;
    double m_desiredAccuracy = -1;
    double m_distanceFilter = 0;
    double m_headingFilter = 1;
    bool m_updatingLocation = false, m_updatingHeading = false;
    int m_locationStarts = 0, m_headingStarts = 0;
    std::optional<Location> m_lastLocation;
    std::optional<Heading> m_lastHeading;
};

// Metres between two fixes on the earth's mean sphere.
double locationDistance(const Location& a, const Location& b);

}  // namespace plat::devices
