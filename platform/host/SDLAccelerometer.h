// The window driver's accelerometer: SDL's accelerometer sensor, else a game controller's (m/s^2 with
// the opposite sign: -value / 9.80665 g), else a virtual one: the device orientation's rest vector
// tilted 5 degrees per arrow key. Read at the accelerometer's interval while it has a delegate, and
// played as "accel".
#pragma once

#include <SDL2/SDL.h>

#include <optional>
#include <string>

#include "platform/sys/Accelerometer.h"

namespace plat::host {

inline constexpr double kStandardGravity = 9.80665;  // m/s^2 in one g
inline constexpr double kTiltStepDegrees = 5;

// An SDL accelerometer reading (m/s^2, the opposite sign of the platform's) in g.
sys::Acceleration accelerationFromSensor(const float metresPerSecondSquared[3], double timestamp);

// What a device at rest reads in `deviceOrientation` (0-6; 0 counts as portrait), tilted by
// `rightDegrees` (the viewer's right goes down: x grows) and `upDegrees` (the top leans away: the
// glass faces up; flat, the viewer's up goes down). Always one g long.
sys::Acceleration virtualAcceleration(int deviceOrientation, double rightDegrees, double upDegrees);

class SDLAccelerometer {
public:
    // Opens the first accelerometer sensor, else the first game controller that has one (needs
    // SDL's sensor and game-controller subsystems; without them: virtual).
    SDLAccelerometer();
    ~SDLAccelerometer();
    SDLAccelerometer(const SDLAccelerometer&) = delete;
    SDLAccelerometer& operator=(const SDLAccelerometer&) = delete;

    // A controller plugged in later is taken when there is no sensor yet; an unplugged one is let go.
    void controllerAdded(int deviceIndex);
    void controllerRemoved(SDL_JoystickID instance);

    bool isVirtual() const { return !m_sensor && !m_controller; }
    // "sensor NAME", "controller NAME" or "virtual".
    std::string source() const;

    // Arrow keys: the virtual one's tilt, kTiltStepDegrees a press (held within a quarter turn).
    void tilt(int rightSteps, int upSteps);

    // The reading now: the device's, else the virtual one's for `deviceOrientation`.
    sys::Acceleration sample(int deviceOrientation, double timestamp) const;

private:
    bool openController(int deviceIndex);

    SDL_Sensor* m_sensor = nullptr;
    SDL_GameController* m_controller = nullptr;
    double m_right = 0, m_up = 0;  // degrees
};

}  // namespace plat::host
