#include "platform/host/SDLAccelerometer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace plat::host {

namespace {

double radians(double degrees) {
    return degrees * std::numbers::pi / 180;
}

}  // namespace

sys::Acceleration accelerationFromSensor(const float metresPerSecondSquared[3], double timestamp) {
    return {-metresPerSecondSquared[0] / kStandardGravity, -metresPerSecondSquared[1] / kStandardGravity,
            -metresPerSecondSquared[2] / kStandardGravity, timestamp};
}

sys::Acceleration virtualAcceleration(int deviceOrientation, double rightDegrees, double upDegrees) {
    const double sr = std::sin(radians(rightDegrees)), cr = std::cos(radians(rightDegrees));
    const double su = std::sin(radians(upDegrees)), cu = std::cos(radians(upDegrees));
    if (deviceOrientation == 5 || deviceOrientation == 6) {
        // Flat: the viewer looks at the glass (face up) or at its back (face down).
        const double z = deviceOrientation == 5 ? -1 : 1;
        return {sr * cu, su, z * cr * cu, 0};
    }
    // Upright, in the viewer's axes: x right, y up, z out of the glass; at rest (0, -1, 0).
    const double vx = sr * cu, vy = -cr * cu, vz = -su;
    switch (deviceOrientation) {
        case 2:
            return {-vx, -vy, vz, 0};
        case 3:  // the device's top on the viewer's left
            return {vy, -vx, vz, 0};
        case 4:  // ... on the viewer's right
            return {-vy, vx, vz, 0};
        default:
            return {vx, vy, vz, 0};
    }
}

SDLAccelerometer::SDLAccelerometer() {
    if (SDL_WasInit(SDL_INIT_SENSOR)) {
        for (int i = 0; i < SDL_NumSensors() && !m_sensor; ++i)
            if (SDL_SensorGetDeviceType(i) == SDL_SENSOR_ACCEL) m_sensor = SDL_SensorOpen(i);
    }
    if (!m_sensor && SDL_WasInit(SDL_INIT_GAMECONTROLLER)) {
        for (int i = 0; i < SDL_NumJoysticks() && !m_controller; ++i) openController(i);
    }
}

SDLAccelerometer::~SDLAccelerometer() {
    if (m_sensor) SDL_SensorClose(m_sensor);
    if (m_controller) SDL_GameControllerClose(m_controller);
}

bool SDLAccelerometer::openController(int deviceIndex) {
    if (!SDL_IsGameController(deviceIndex)) return false;
    SDL_GameController* controller = SDL_GameControllerOpen(deviceIndex);
    if (!controller) return false;
    if (!SDL_GameControllerHasSensor(controller, SDL_SENSOR_ACCEL) ||
        SDL_GameControllerSetSensorEnabled(controller, SDL_SENSOR_ACCEL, SDL_TRUE) != 0) {
        SDL_GameControllerClose(controller);
        return false;
    }
    m_controller = controller;
    return true;
}

void SDLAccelerometer::controllerAdded(int deviceIndex) {
    if (!m_sensor && !m_controller) openController(deviceIndex);
}

void SDLAccelerometer::controllerRemoved(SDL_JoystickID instance) {
    if (!m_controller || SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(m_controller)) != instance)
        return;
    SDL_GameControllerClose(m_controller);
    m_controller = nullptr;
}

std::string SDLAccelerometer::source() const {
    if (m_sensor)
        return std::string("sensor ") + (SDL_SensorGetName(m_sensor) ? SDL_SensorGetName(m_sensor) : "");
    if (m_controller)
        return std::string("controller ") +
               (SDL_GameControllerName(m_controller) ? SDL_GameControllerName(m_controller) : "");
    return "virtual";
}

void SDLAccelerometer::tilt(int rightSteps, int upSteps) {
    m_right = std::clamp(m_right + rightSteps * kTiltStepDegrees, -90.0, 90.0);
    m_up = std::clamp(m_up + upSteps * kTiltStepDegrees, -90.0, 90.0);
}

sys::Acceleration SDLAccelerometer::sample(int deviceOrientation, double timestamp) const {
    float values[3] = {0, 0, 0};
    if (m_sensor && SDL_SensorGetData(m_sensor, values, 3) == 0)
        return accelerationFromSensor(values, timestamp);
    if (m_controller && SDL_GameControllerGetSensorData(m_controller, SDL_SENSOR_ACCEL, values, 3) == 0)
        return accelerationFromSensor(values, timestamp);
    sys::Acceleration virtualSample = virtualAcceleration(deviceOrientation, m_right, m_up);
    virtualSample.timestamp = timestamp;
    return virtualSample;
}

}  // namespace plat::host
