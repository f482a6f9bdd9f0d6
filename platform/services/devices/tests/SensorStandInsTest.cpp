// The location stand-in's filters and deliveries, and the motion stand-in's readings.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/services/devices/SensorStandIns.h"

namespace {

using namespace plat::devices;

struct Heard : LocationManagerDelegate {
    std::vector<std::string> lines;
    std::unique_ptr<LocationManager>* letGo = nullptr;  // a manager this delegate lets go when told
    void didUpdateToLocation(LocationManager&, const Location& location, const std::optional<Location>&) override {
        lines.push_back("fix " + std::to_string(location.latitude));
        if (letGo) letGo->reset();
    }
    void didUpdateHeading(LocationManager&, const Heading& heading) override {
        lines.push_back("heading " + std::to_string(int(heading.magneticHeading)));
    }
};

TEST(SensorStandIns, HeadingsTurnedLessThanTheFilterAcrossNorthAreNotTold) {
    Heard heard;
    LocationManager manager;
    manager.setDelegate(&heard);
    manager.setHeadingFilter(5);
    LocationManager::deliverHeading({358, 0});  // not updating yet
    manager.startUpdatingHeading();
    for (double degrees : {358.0, 1.0, 4.0, 270.0}) LocationManager::deliverHeading({degrees, 0});
    EXPECT_EQ(heard.lines, (std::vector<std::string>{"heading 358", "heading 4", "heading 270"}));
}

TEST(SensorStandIns, FixesCloserThanTheDistanceFilterAreNotToldAndAGoneManagerHearsNothing) {
    Heard first, second;
    auto a = std::make_unique<LocationManager>();
    auto b = std::make_unique<LocationManager>();
    a->setDelegate(&first);
    b->setDelegate(&second);
    first.letGo = &b;  // the first delegate lets the second manager go while it is told
    a->setDistanceFilter(100);
    a->startUpdatingLocation();
    b->startUpdatingLocation();
    LocationManager::deliverLocation({10, 0});
    LocationManager::deliverLocation({10.0005, 0});  // about 56 m
    LocationManager::deliverLocation({10.002, 0});   // about 222 m
    EXPECT_EQ(first.lines, (std::vector<std::string>{"fix 10.000000", "fix 10.002000"}));
    EXPECT_EQ(second.lines, std::vector<std::string>{});
    EXPECT_EQ(LocationManager::liveCount(), 1);
}

TEST(SensorStandIns, ReadingsShowOnlyWhileTheSensorRuns) {
    MotionManager::resetReadings();
    MotionManager manager;
    MotionManager::setReading(MotionSensor::Attitude, {0.1, 0.2, 0.3});
    EXPECT_EQ(manager.latest(MotionSensor::Attitude).z, 0);
    manager.startUpdates(MotionSensor::Attitude);
    EXPECT_EQ(manager.latest(MotionSensor::Attitude).z, 0.3);
    EXPECT_EQ(manager.latest(MotionSensor::Gyro).x, 0);
    manager.stopUpdates(MotionSensor::Attitude);
    EXPECT_EQ(manager.latest(MotionSensor::Attitude).z, 0);
    EXPECT_FALSE(manager.isGyroAvailable());  // no configuration: no service
}

}  // namespace
