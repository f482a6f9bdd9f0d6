#include "platform/services/devices/SensorStandIns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/sys/Report.h"

namespace plat::devices {

namespace {

std::function<void(std::string_view)>& listener() {
    static std::function<void(std::string_view)> l;
    return l;
}

void say(const char* category, const std::string& text) {
    sys::reportTrace(category, text);
    if (listener()) listener()(std::string(category) + " " + text);
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

MotionManager::ConfigurationSource& motionSource() {
    static MotionManager::ConfigurationSource source;
    return source;
}

LocationManager::ConfigurationSource& locationSource() {
    static LocationManager::ConfigurationSource source;
    return source;
}

struct Readings {
    MotionReading values[3];
};

Readings& readings() {
    static Readings r;
    return r;
}

std::vector<LocationManager*>& liveManagers() {
    static std::vector<LocationManager*> managers;
    return managers;
}

bool alive(const LocationManager* manager) {
    const auto& all = liveManagers();
    return std::find(all.begin(), all.end(), manager) != all.end();
}

}  // namespace

void setSensorTraceListener(std::function<void(std::string_view line)> l) {
    listener() = std::move(l);
}

const char* motionSensorName(MotionSensor sensor) {
    switch (sensor) {
        case MotionSensor::Accelerometer: return "accel";
        case MotionSensor::Gyro: return "gyro";
        case MotionSensor::Attitude: return "attitude";
    }
    return "";
}

std::optional<MotionSensor> parseMotionSensor(std::string_view name) {
    for (MotionSensor sensor : {MotionSensor::Accelerometer, MotionSensor::Gyro, MotionSensor::Attitude})
        if (name == motionSensorName(sensor)) return sensor;
    return std::nullopt;
}

// ---- motion ----

void MotionManager::setConfigurationSource(ConfigurationSource source) {
    motionSource() = std::move(source);
}

std::optional<MotionConfiguration> MotionManager::configuration() {
    return motionSource() ? motionSource()() : std::nullopt;
}

MotionManager::~MotionManager() {
    for (MotionSensor sensor : {MotionSensor::Accelerometer, MotionSensor::Gyro, MotionSensor::Attitude})
        if (isActive(sensor)) stopUpdates(sensor);
}

bool MotionManager::isGyroAvailable() const {
    const auto config = configuration();
    return config && config->gyroAvailable;
}

bool MotionManager::isDeviceMotionAvailable() const {
    const auto config = configuration();
    return config && config->deviceMotionAvailable;
}

void MotionManager::setUpdateInterval(MotionSensor sensor, double seconds) {
    m_members[index(sensor)].interval = seconds;
    say("motion", std::string("interval ") + motionSensorName(sensor) + " " + number(seconds));
}

void MotionManager::startUpdates(MotionSensor sensor) {
    m_members[index(sensor)].active = true;
    say("motion", std::string("start ") + motionSensorName(sensor));
}

void MotionManager::stopUpdates(MotionSensor sensor) {
    m_members[index(sensor)].active = false;
    say("motion", std::string("stop ") + motionSensorName(sensor));
}

MotionReading MotionManager::latest(MotionSensor sensor) const {
    return isActive(sensor) ? readings().values[index(sensor)] : MotionReading{};
}

void MotionManager::setReading(MotionSensor sensor, MotionReading reading) {
    readings().values[index(sensor)] = reading;
}

void MotionManager::resetReadings() {
    readings() = {};
}

// ---- location ----

void LocationManager::setConfigurationSource(ConfigurationSource source) {
    locationSource() = std::move(source);
}

std::optional<LocationConfiguration> LocationManager::configuration() {
    return locationSource() ? locationSource()() : std::nullopt;
}

bool LocationManager::headingAvailable() {
    const auto config = configuration();
    return config && config->headingAvailable;
}

int LocationManager::liveCount() {
    return static_cast<int>(liveManagers().size());
}

LocationManager::LocationManager() {
    liveManagers().push_back(this);
    say("location", "manager made");
}

LocationManager::~LocationManager() {
    auto& all = liveManagers();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    say("location", "manager gone");
}

void LocationManager::setDesiredAccuracy(double metres) {
    m_desiredAccuracy = metres;
    say("location", "accuracy " + number(metres));
}

void LocationManager::setDistanceFilter(double metres) {
    m_distanceFilter = metres;
    say("location", "distance filter " + number(metres));
}

void LocationManager::setHeadingFilter(double degrees) {
    m_headingFilter = degrees;
    say("location", "heading filter " + number(degrees));
}

void LocationManager::startUpdatingLocation() {
    m_updatingLocation = true;
    ++m_locationStarts;
    say("location", "start location " + std::to_string(m_locationStarts));
}

void LocationManager::stopUpdatingLocation() {
    m_updatingLocation = false;
    m_lastLocation.reset();
    say("location", "stop location");
}

void LocationManager::startUpdatingHeading() {
    m_updatingHeading = true;
    ++m_headingStarts;
    say("location", "start heading " + std::to_string(m_headingStarts));
}

void LocationManager::stopUpdatingHeading() {
    m_updatingHeading = false;
    m_lastHeading.reset();
    say("location", "stop heading");
}

// A delegate may let managers go while it is told: each is looked for among the living first.
void LocationManager::deliverLocation(const Location& location) {
    const std::vector<LocationManager*> all = liveManagers();
    for (LocationManager* manager : all)
        if (alive(manager) && manager->m_updatingLocation) manager->tellLocation(location);
}

void LocationManager::deliverHeading(const Heading& heading) {
    const std::vector<LocationManager*> all = liveManagers();
    for (LocationManager* manager : all)
        if (alive(manager) && manager->m_updatingHeading) manager->tellHeading(heading);
}

void LocationManager::tellLocation(const Location& location) {
    if (m_lastLocation && m_distanceFilter > 0 && locationDistance(*m_lastLocation, location) < m_distanceFilter)
        return;
    const std::optional<Location> previous = m_lastLocation;
    m_lastLocation = location;
    if (m_delegate) m_delegate->didUpdateToLocation(*this, location, previous);
}

void LocationManager::tellHeading(const Heading& heading) {
    if (m_lastHeading) {
        const double turn = std::fabs(std::remainder(heading.magneticHeading - m_lastHeading->magneticHeading, 360.0));
        if (turn < m_headingFilter) return;
    }
    m_lastHeading = heading;
    if (m_delegate) m_delegate->didUpdateHeading(*this, heading);
}

double locationDistance(const Location& a, const Location& b) {
    constexpr double kEarthRadius = 6371008.8;
    constexpr double kRadians = M_PI / 180;
    const double dLat = (b.latitude - a.latitude) * kRadians, dLon = (b.longitude - a.longitude) * kRadians;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(a.latitude * kRadians) * std::cos(b.latitude * kRadians) * std::sin(dLon / 2) *
                         std::sin(dLon / 2);
    return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

}  // namespace plat::devices
