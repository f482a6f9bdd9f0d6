// The device: presets, version texts, orientation turns and their counted notifications.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sys/Accelerometer.h"
#include "platform/sys/Device.h"
#include "platform/sys/Report.h"

namespace {

using namespace plat::sys;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        Device::current().reset();
        setReportHooks({nullptr, [this](const char* name, const void* sender, const char* className) {
                            EXPECT_EQ(sender, &Device::current());
                            events.push_back(std::string(className) + " " + name);
                        }});
        Device::current().setOrientationObserver([this](int o) { events.push_back("observer " + std::to_string(o)); });
    }
    void TearDown() override {
        setReportHooks({});
        Device::current().reset();
    }
    std::vector<std::string> events;
};

TEST_F(DeviceTest, PresetsGivePortraitScreensScalesAndIdioms) {
    const struct {
        const char* name;
        Rect bounds;
        double scale;
        int idiom;
        const char* model;
    } cases[] = {
        {"phone", {0, 0, 320, 480}, 1, 0, "iPhone"},       {"phone-retina", {0, 0, 320, 480}, 2, 0, "iPhone"},
        {"phone5", {0, 0, 320, 568}, 2, 0, "iPhone"},      {"tablet", {0, 0, 768, 1024}, 1, 1, "iPad"},
        {"tablet-retina", {0, 0, 768, 1024}, 2, 1, "iPad"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Device::current().setPreset(c.name)) << c.name;
        EXPECT_EQ(Screen::main().bounds(), c.bounds) << c.name;
        EXPECT_EQ(Screen::main().scale(), c.scale) << c.name;
        EXPECT_EQ(Device::current().userInterfaceIdiom(), c.idiom) << c.name;
        EXPECT_EQ(Device::current().model(), c.model) << c.name;
    }
    EXPECT_FALSE(Device::current().setPreset("watch"));
    EXPECT_EQ(Device::current().preset().name, "tablet-retina");
    Device::current().reset();
    EXPECT_EQ(Device::current().preset().name, "phone-retina");
    EXPECT_EQ(Device::current().systemVersion(), "6.1");
}

TEST_F(DeviceTest, VersionTextsReadAndCompareAsThePlatformDoes) {
    const struct {
        const char* text;
        float value;
    } floats[] = {{"6.1", 6.1f}, {"5.1.1", 5.1f}, {"7", 7.0f}, {" +4.3beta", 4.3f}, {"-2", -2.0f}, {"beta", 0}, {"", 0}};
    for (const auto& c : floats) EXPECT_EQ(versionFloat(c.text), c.value) << c.text;

    const struct {
        const char* a;
        const char* b;
        int order;
    } pairs[] = {
        {"6.1", "6.1", 0},   {"6.1", "3.1", 1},     {"10.0", "9.9", 1},     {"3.10", "3.9", 1},
        {"3.01", "3.1", 0},  {"6.1", "6.1.0", -1},  {"5.1.1", "6.0", -1},   {"6.0b", "6.0a", 1},
    };
    for (const auto& c : pairs) {
        EXPECT_EQ(compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(compareVersions(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
    Device::current().setSystemVersion("5.1.1");
    EXPECT_EQ(Device::current().systemVersionFloat(), 5.1f);
    EXPECT_TRUE(Device::current().systemVersionAtLeast("3.1"));
    EXPECT_FALSE(Device::current().systemVersionAtLeast("6.0"));
}

TEST_F(DeviceTest, TurnsReachTheObserverAlwaysAndNotifyOnlyWhileGenerating) {
    Device& d = Device::current();
    EXPECT_TRUE(d.setOrientation(3));  // not generating: the observer only
    d.beginGeneratingDeviceOrientationNotifications();
    d.beginGeneratingDeviceOrientationNotifications();
    d.endGeneratingDeviceOrientationNotifications();
    EXPECT_TRUE(d.setOrientation(5));  // one begin still outstanding
    EXPECT_FALSE(d.setOrientation(5));  // no change
    EXPECT_FALSE(d.setOrientation(7));
    EXPECT_FALSE(d.setOrientation(-1));
    d.endGeneratingDeviceOrientationNotifications();
    d.endGeneratingDeviceOrientationNotifications();  // an extra end does not go below zero
    EXPECT_TRUE(d.setOrientation(0));
    d.beginGeneratingDeviceOrientationNotifications();
    EXPECT_TRUE(d.setOrientation(1));
    EXPECT_EQ(d.orientation(), 1);
    const std::vector<std::string> expected{
        "observer 3", "observer 5", "UIDevice UIDeviceOrientationDidChangeNotification",
        "observer 0", "observer 1", "UIDevice UIDeviceOrientationDidChangeNotification",
    };
    EXPECT_EQ(events, expected);
}

TEST_F(DeviceTest, TheDriversBatteryNotifiesChangesOnlyWhileMonitored) {
    Device& d = Device::current();
    EXPECT_TRUE(d.setBattery(0.5, kBatteryStateUnplugged));  // unmonitored: read as unknown, no post
    EXPECT_EQ(d.batteryLevel(), -1);
    EXPECT_EQ(d.batteryState(), kBatteryStateUnknown);
    EXPECT_EQ(d.battery().level, 0.5);
    d.setBatteryMonitoringEnabled(true);
    EXPECT_EQ(d.batteryLevel(), 0.5);
    EXPECT_TRUE(d.setBattery(0.4, kBatteryStateUnplugged));
    EXPECT_TRUE(d.setBattery(0.4, kBatteryStateCharging));
    EXPECT_TRUE(d.setBattery(0.4, kBatteryStateCharging));  // no change, no post
    EXPECT_FALSE(d.setBattery(1.2, kBatteryStateFull));
    EXPECT_FALSE(d.setBattery(-0.5, kBatteryStateFull));
    EXPECT_FALSE(d.setBattery(1, 4));
    EXPECT_TRUE(d.setBattery(-1, kBatteryStateUnknown));
    const std::vector<std::string> expected{
        "UIDevice UIDeviceBatteryLevelDidChangeNotification", "UIDevice UIDeviceBatteryStateDidChangeNotification",
        "UIDevice UIDeviceBatteryLevelDidChangeNotification", "UIDevice UIDeviceBatteryStateDidChangeNotification",
    };
    EXPECT_EQ(events, expected);
}

struct Recorder : AccelerometerDelegate {
    std::vector<Acceleration> samples;
    void didAccelerate(Accelerometer&, const Acceleration& a) override { samples.push_back(a); }
};

TEST(AccelerometerTest, SamplesReachTheDelegateWhileThereIsOne) {
    Accelerometer& acc = Accelerometer::shared();
    acc.reset();
    EXPECT_FALSE(acc.deliver({0, 0, -1, 0}));
    Recorder recorder;
    acc.setDelegate(&recorder);
    acc.setUpdateInterval(0.05);
    acc.setUpdateInterval(0);  // refused
    EXPECT_EQ(acc.updateInterval(), 0.05);
    EXPECT_TRUE(acc.deliver({0.5, -0.25, -1, 2}));
    acc.setDelegate(nullptr);
    EXPECT_FALSE(acc.deliver({1, 1, 1, 3}));
    ASSERT_EQ(recorder.samples.size(), 1u);
    EXPECT_EQ(recorder.samples[0].y, -0.25);
    acc.reset();
}

}  // namespace
