// The page's listenings: acceleration, rotation rate, attitude, location, heading and shake. Each
// runs from its start to its stop (or the ad's cleanup, which stops them all without a word).
#include <time.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "orbad/ads/OrbadRichMediaDeviceState.h"
#include "orbad/core/OrbadJSON.h"

namespace orbad {

using plat::devices::MotionSensor;
using plat::foundation::RunLoop;
using plat::foundation::Value;

namespace {

// A page's interval can be anything; a step must wait for something.
constexpr double kMinimumInterval = 0.01;
constexpr const char* kNoDataCallback = "No data callback function specified";

constexpr auto parameter = &OrbadRichMediaURLParser::parameter;

struct Answers {
    std::optional<std::string> ok, err;
};

Answers answersOf(const OrbadRichMediaWebAdView::Parameters& parameters) {
    return {parameter(parameters, "successCallbackFunctionName"), parameter(parameters, "errorCallbackFunctionName")};
}

// The leading number of `text` read as the C locale reads a float: blanks, a sign, digits, an
// exponent; what is not finite reads as 0.
double readNumber(const std::optional<std::string>& text) {
    if (!text) return 0;
    size_t i = text->find_first_not_of(" \t\n");
    if (i == std::string::npos) return 0;
    bool negative = false;
    if ((*text)[i] == '+' || (*text)[i] == '-') negative = (*text)[i++] == '-';
    double value = 0;
    const auto [end, ec] = std::from_chars(text->data() + i, text->data() + text->size(), value);
    (void)end;
    if (ec != std::errc() || !std::isfinite(value)) return 0;
    return negative ? -value : value;
}

double intervalOf(const OrbadRichMediaWebAdView::Parameters& parameters) {
    const double seconds = static_cast<float>(readNumber(parameter(parameters, "interval")));
    return std::isfinite(seconds) && seconds >= kMinimumInterval ? seconds : kMinimumInterval;
}

std::string threeNumbers(const std::string& cb, double x, double y, double z) {
    return "mAdViewCallbackHandler('" + orbadJSQuoted(cb) + "', " + orbadFormatF(x) + ", " + orbadFormatF(y) + ", " +
           orbadFormatF(z) + ");";
}

// "yyyy-MM-dd'T'HH:mmZ" in the device's time zone, digits as the C locale writes them.
std::string locationTimestamp(double secondsSince1970) {
    const time_t seconds = static_cast<time_t>(std::floor(secondsSince1970));
    struct tm local {};
    localtime_r(&seconds, &local);
    const long offset = local.tm_gmtoff / 60;
    const int minutes = static_cast<int>(std::labs(offset) % (24 * 60));
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d%c%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

std::string locationJSON(const plat::devices::Location& location) {
    const Value sample(Value::Dictionary{
        {"altitude", Value(location.altitude)},
        {"course", Value(location.course)},
        {"horizontalAccuracy", Value(location.horizontalAccuracy)},
        {"speed", Value(location.speed)},
        {"verticalAccuracy", Value(location.verticalAccuracy)},
        {"timestamp", Value(locationTimestamp(location.timestamp))},
        {"coordinate", Value(Value::Dictionary{{"longitude", Value(location.longitude)},
                                               {"latitude", Value(location.latitude)}})},
    });
    return OrbadJSON::encodeObject(sample).value_or("{}");
}

}  // namespace

// A member of the polled motion listenings, with its texts.
struct OrbadPolledMember {
    MotionSensor sensor;
    const char* incapable;  // null: the accelerometer, which has a road without the motion class
    const char* notInUse;
    bool sampleFirst;
};

namespace {

constexpr OrbadPolledMember kAcceleration{MotionSensor::Accelerometer, nullptr, "The accelerometer was not in use",
                                          true};
constexpr OrbadPolledMember kGyroscope{MotionSensor::Gyro, "The device is not capable of providing gyroscope data",
                                       "The gyroscope was not in use", false};
constexpr OrbadPolledMember kAttitude{MotionSensor::Attitude,
                                      "The device is not capable of providing device motion data",
                                      "Device motion was not in use", false};

}  // namespace

// ---- the platform's deliveries ----

OrbadRichMediaWebAdView::DeviceState::~DeviceState() {
    for (OrbadPolledListening& member : polled) RunLoop::main().cancelPerforms(&member);
    returnAccelerometer();
    if (locationManager) locationManager->setDelegate(nullptr);
}

void OrbadRichMediaWebAdView::DeviceState::didAccelerate(plat::sys::Accelerometer&,
                                                        const plat::sys::Acceleration& a) {
    const OrbadPolledListening& acceleration = listening(MotionSensor::Accelerometer);
    if (!acceleration.sending) return returnAccelerometer();
    if (acceleration.callback) view.evaluate(threeNumbers(*acceleration.callback, a.x, a.y, a.z));
}

void OrbadRichMediaWebAdView::DeviceState::didUpdateToLocation(
    plat::devices::LocationManager&, const plat::devices::Location& location,
    const std::optional<plat::devices::Location>&) {
    if (sendingGPS && gpsCallback)
        view.evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(*gpsCallback) + "','" +
                      orbadJSQuoted(locationJSON(location)) + "');");
}

void OrbadRichMediaWebAdView::DeviceState::didUpdateHeading(plat::devices::LocationManager&,
                                                            const plat::devices::Heading& heading) {
    if (sendingHeading && magnetometerCallback)
        view.evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(*magnetometerCallback) + "', " +
                      orbadFormatF(heading.magneticHeading) + ");");
}

plat::devices::LocationManager& OrbadRichMediaWebAdView::DeviceState::holdLocationManager() {
    if (!locationManager) {
        locationManager = std::make_unique<plat::devices::LocationManager>();
        locationManager->setDelegate(this);
    }
    ++locationHolds;
    return *locationManager;
}

void OrbadRichMediaWebAdView::DeviceState::releaseLocationManager() {
    if (locationHolds > 0 && --locationHolds == 0 && locationManager) {
        locationManager->setDelegate(nullptr);
        locationManager.reset();
    }
}

std::vector<OrbadRichMediaWebAdView::DeviceState*>& OrbadRichMediaWebAdView::DeviceState::accelerometerHolders() {
    static std::vector<DeviceState*> holders;
    return holders;
}

// A view that took the accelerometer after this one saved this one as its predecessor: it inherits
// what this one saved, so the game, not a gone view, gets the accelerometer at the end.
void OrbadRichMediaWebAdView::DeviceState::returnAccelerometer() {
    if (!holdsAccelerometer) return;
    holdsAccelerometer = false;
    std::erase(accelerometerHolders(), this);
    plat::sys::Accelerometer& accelerometer = plat::sys::Accelerometer::shared();
    if (accelerometer.delegate() == this) {
        accelerometer.setDelegate(oldAccelerometerDelegate);
        accelerometer.setUpdateInterval(oldAccelerometerInterval);
    } else {
        for (DeviceState* later : accelerometerHolders())
            if (later->oldAccelerometerDelegate == this) {
                later->oldAccelerometerDelegate = oldAccelerometerDelegate;
                later->oldAccelerometerInterval = oldAccelerometerInterval;
            }
    }
    oldAccelerometerDelegate = nullptr;
}

// ---- acceleration, rotation rate, attitude ----

// A sample, then the next step while the listening runs. The listening's address names its step,
// so a start or a stop cancels exactly that chain and no second one can grow.
void OrbadRichMediaWebAdView::DeviceState::sampleStep(const OrbadPolledMember& member) {
    OrbadPolledListening& member_ = listening(member.sensor);
    if (member_.callback && motionManager) {
        const plat::devices::MotionReading reading = motionManager->latest(member.sensor);
        view.evaluate(threeNumbers(*member_.callback, reading.x, reading.y, reading.z));
    }
    if (member_.sending)
        RunLoop::main().performAfter(member_.interval, &member_, [this, &member] { sampleStep(member); });
}

void OrbadRichMediaWebAdView::DeviceState::startPolled(const OrbadPolledMember& member, const Parameters& parameters) {
    OrbadPolledListening& member_ = listening(member.sensor);
    const Answers answers = answersOf(parameters);
    member_.callback = parameter(parameters, "callbackFunctionName");
    if (!member_.callback) {
        if (answers.err) view.callback(*answers.err, kNoDataCallback);
        return;
    }
    const double interval = intervalOf(parameters);
    if (!motionManager) {
        if (!orbadHasDeviceClass(plat::devices::kMotionManagerClassName)) {
            if (!member.incapable) return startAccelerometerWithoutMotion(interval, answers.ok, answers.err);
            if (answers.err) view.callback(*answers.err, member.incapable);
            return;
        }
        motionManager = std::make_unique<plat::devices::MotionManager>();
    }
    RunLoop::main().cancelPerforms(&member_);
    member_.interval = interval;
    motionManager->setUpdateInterval(member.sensor, interval);
    motionManager->startUpdates(member.sensor);
    member_.sending = true;
    if (member.sampleFirst) sampleStep(member);
    if (answers.ok) view.callback(*answers.ok);
    if (!member.sampleFirst) sampleStep(member);
}

void OrbadRichMediaWebAdView::DeviceState::startAccelerometerWithoutMotion(double interval, const Answer& ok,
                                                                          const Answer& err) {
    OrbadPolledListening& acceleration = listening(MotionSensor::Accelerometer);
    if (!orbadHasDeviceClass(plat::devices::kAccelerometerClassName)) {
        acceleration.callback.reset();
        if (err) view.callback(*err, "The device is not capable of providing accelerometer data");
        return;
    }
    acceleration.sending = true;
    plat::sys::Accelerometer& accelerometer = plat::sys::Accelerometer::shared();
    // A second start finds this view in place: what the first saved stays the game's.
    if (!holdsAccelerometer) {
        holdsAccelerometer = true;
        accelerometerHolders().push_back(this);
        oldAccelerometerDelegate = accelerometer.delegate() == this ? nullptr : accelerometer.delegate();
        oldAccelerometerInterval = accelerometer.updateInterval();
    }
    accelerometer.setDelegate(this);
    accelerometer.setUpdateInterval(interval);
    if (ok) view.callback(*ok);
}

void OrbadRichMediaWebAdView::DeviceState::stopPolled(const OrbadPolledMember& member, const Answer& ok,
                                                      const Answer& err) {
    OrbadPolledListening& member_ = listening(member.sensor);
    if (!member_.sending) {
        if (err) view.callback(*err, member.notInUse);
        return;
    }
    member_.sending = false;
    RunLoop::main().cancelPerforms(&member_);
    if (motionManager && motionManager->isActive(member.sensor)) motionManager->stopUpdates(member.sensor);
    if (member.sensor == MotionSensor::Accelerometer) returnAccelerometer();
    member_.callback.reset();
    if (ok) view.callback(*ok);
}

void OrbadRichMediaWebAdView::commandAccelerometerStart(const Parameters& parameters) {
    deviceState().startPolled(kAcceleration, parameters);
}

void OrbadRichMediaWebAdView::commandAccelerometerStop(const Parameters& parameters) {
    const Answers answers = answersOf(parameters);
    deviceState().stopPolled(kAcceleration, answers.ok, answers.err);
}

void OrbadRichMediaWebAdView::commandGyroscopeStart(const Parameters& parameters) {
    deviceState().startPolled(kGyroscope, parameters);
}

void OrbadRichMediaWebAdView::commandGyroscopeStop(const Parameters& parameters) {
    const Answers answers = answersOf(parameters);
    deviceState().stopPolled(kGyroscope, answers.ok, answers.err);
}

void OrbadRichMediaWebAdView::commandDeviceMotionStart(const Parameters& parameters) {
    deviceState().startPolled(kAttitude, parameters);
}

void OrbadRichMediaWebAdView::commandDeviceMotionStop(const Parameters& parameters) {
    const Answers answers = answersOf(parameters);
    deviceState().stopPolled(kAttitude, answers.ok, answers.err);
}

// ---- location and heading ----

void OrbadRichMediaWebAdView::commandGpsStart(const Parameters& parameters) {
    DeviceState& state = deviceState();
    const Answers answers = answersOf(parameters);
    state.gpsCallback = parameter(parameters, "callbackFunctionName");
    if (!state.gpsCallback) {
        if (answers.err) callback(*answers.err, kNoDataCallback);
        return;
    }
    if (state.sendingGPS) return;
    if (!orbadHasDeviceClass(plat::devices::kLocationManagerClassName)) {
        state.gpsCallback.reset();
        if (answers.err) callback(*answers.err, "The device is not capable of providing gps data");
        return;
    }
    state.sendingGPS = true;
    plat::devices::LocationManager& manager = state.holdLocationManager();
    manager.setDesiredAccuracy(-1.0);
    manager.setDistanceFilter(readNumber(parameter(parameters, "distanceFilter")));
    manager.startUpdatingLocation();
    if (answers.ok) callback(*answers.ok);
}

void OrbadRichMediaWebAdView::commandMagnetometerStart(const Parameters& parameters) {
    DeviceState& state = deviceState();
    const Answers answers = answersOf(parameters);
    state.magnetometerCallback = parameter(parameters, "callbackFunctionName");
    if (!state.magnetometerCallback) {
        if (answers.err) callback(*answers.err, kNoDataCallback);
        return;
    }
    if (state.sendingHeading) return;
    constexpr const char* kIncapable = "The device is not capable of providing magnetometer data";
    if (!orbadHasDeviceClass(plat::devices::kLocationManagerClassName)) {
        state.magnetometerCallback.reset();
        if (answers.err) callback(*answers.err, kIncapable);
        return;
    }
    state.sendingHeading = true;
    plat::devices::LocationManager& manager = state.holdLocationManager();
    if (!plat::devices::LocationManager::headingAvailable()) {
        state.sendingHeading = false;
        state.releaseLocationManager();
        state.magnetometerCallback.reset();
        if (answers.err) callback(*answers.err, kIncapable);
        return;
    }
    manager.setHeadingFilter(1.0);
    manager.startUpdatingHeading();
    if (answers.ok) callback(*answers.ok);
}

void OrbadRichMediaWebAdView::DeviceState::stopLocation(bool heading, const Answer& ok, const Answer& err) {
    if (!(heading ? sendingHeading : sendingGPS)) {
        if (err) view.callback(*err, heading ? "The Magnetometer was not in use" : "The GPS was not in use");
        return;
    }
    if (heading) {
        sendingHeading = false;
        if (locationManager) locationManager->stopUpdatingHeading();
        magnetometerCallback.reset();
    } else {
        sendingGPS = false;
        if (locationManager) locationManager->stopUpdatingLocation();
        gpsCallback.reset();
    }
    releaseLocationManager();
    if (ok) view.callback(*ok);
}

void OrbadRichMediaWebAdView::commandGpsStop(const Parameters& parameters) {
    const Answers answers = answersOf(parameters);
    deviceState().stopLocation(false, answers.ok, answers.err);
}

void OrbadRichMediaWebAdView::commandMagnetometerStop(const Parameters& parameters) {
    const Answers answers = answersOf(parameters);
    deviceState().stopLocation(true, answers.ok, answers.err);
}

// ---- shake ----

void OrbadRichMediaWebAdView::commandDeviceStartShakeListening(const Parameters& parameters) {
    const Answers answers = answersOf(parameters);
    const auto cb = parameter(parameters, "callbackFunctionName");
    if (!cb) {
        if (answers.err) callback(*answers.err, "Error: no shakeEventListener Function specified");
        return;
    }
    DeviceState& state = deviceState();
    state.shakeCallback = cb;
    if (state.sendingShake) {
        if (answers.err) callback(*answers.err, "Error: already listening for shake events");
        return;
    }
    state.sendingShake = true;
    if (answers.ok) callback(*answers.ok);
}

void OrbadRichMediaWebAdView::DeviceState::stopShake(const Answer& ok, const Answer& err) {
    if (!sendingShake) {
        if (err) view.callback(*err, "Error: nothing to stop, was not listening for shake events");
        return;
    }
    sendingShake = false;
    shakeCallback.reset();
    if (ok) view.callback(*ok);
}

void OrbadRichMediaWebAdView::commandDeviceStopShakeListening(const Parameters& parameters) {
    const Answers answers = answersOf(parameters);
    deviceState().stopShake(answers.ok, answers.err);
}

void OrbadRichMediaWebAdView::motionEnded(int motion) {
    if (motion != kOrbadShakeMotion || !m_deviceState) return;
    if (m_deviceState->sendingShake && m_deviceState->shakeCallback) callback(*m_deviceState->shakeCallback);
}

// ---- cleanup ----

void OrbadRichMediaWebAdView::stopSensors() {
    if (!m_deviceState) return;
    DeviceState& state = *m_deviceState;
    state.stopShake(std::nullopt, std::nullopt);
    for (const OrbadPolledMember* member : {&kAcceleration, &kGyroscope, &kAttitude})
        state.stopPolled(*member, std::nullopt, std::nullopt);
    state.stopLocation(false, std::nullopt, std::nullopt);
    state.stopLocation(true, std::nullopt, std::nullopt);
}

}  // namespace orbad
