// The rich-media bridge's device side on the fake page engine and the virtual clock: the facts and
// capabilities of a desktop without the phone's hardware, the connection query, orientation events,
// and every listening through the motion and location stand-ins.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/Reachability.h"
#include "platform/services/devices/SensorStandIns.h"
#include "platform/sys/Accelerometer.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/PageEngine.h"
#include "tests/support/TestSupport.h"

namespace {

using orbad::OrbadRichMediaWebAdView;
using plat::devices::MotionSensor;
using plat::foundation::Value;
using plat::net::NetOverride;
using Lines = std::vector<std::string>;

struct DeviceHost : dktest::NotingHost {
    int interfaceOrientation() const override { return 3; }
    std::string deviceModel() const override { return "iPhone4%2C1"; }
};

// The game's own accelerometer delegate.
struct Game : plat::sys::AccelerometerDelegate {
    void didAccelerate(plat::sys::Accelerometer&, const plat::sys::Acceleration&) override {}
};

std::string handler(const std::string& args) { return "mAdViewCallbackHandler(" + args + ");"; }

class DeviceCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.device", m_dir.file("home")));
        std::filesystem::create_directories(m_dir.file("home/Library/LocalServices"));
        facts({});
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setBattery(-1, plat::sys::kBatteryStateUnknown);
        plat::sys::Accelerometer::shared().reset();
        plat::devices::MotionManager::resetReadings();
        plat::net::setNetOverride(NetOverride::WiFi);
        view = loadedView();
        scripts();
    }
    std::shared_ptr<OrbadRichMediaWebAdView> loadedView() {
        auto made = std::make_shared<OrbadRichMediaWebAdView>(plat::ui::Rect{0, 0, 320, 50});
        made->setMainAdView(host);
        const size_t heard = host->lines.size();
        made->loadWithAd(dktest::adFrom(R"({"type":"html","props":{"html":"<p>ad</p>"}})"));
        EXPECT_TRUE(dktest::turnUntil([&] { return host->lines.size() > heard; }));
        return made;
    }
    void TearDown() override {
        view.reset();
        plat::foundation::setDeviceFactsFile("");
        plat::net::setNetOverride(std::nullopt);
        plat::sys::Accelerometer::shared().reset();
        plat::web::useWebEngine("none");
    }
    // The device facts file with `entries` over a fixed locale and identifier.
    void facts(Value::Dictionary entries) {
        entries.emplace("locale", "fr_FR");
        entries.emplace("advertisingIdentifier", "6D92078A-8246-4BA4-AE5B-76104861E7DC");
        const std::string path = m_dir.file("facts.plist");
        ASSERT_TRUE(plat::foundation::writePropertyList(path, Value(entries), plat::foundation::PropertyListFormat::Xml));
        plat::foundation::setDeviceFactsFile(path);
    }
    void service(const std::string& name, Value::Dictionary config) {
        ASSERT_TRUE(plat::foundation::writePropertyList(m_dir.file("home/Library/LocalServices/" + name + ".plist"),
                                                        Value(config), plat::foundation::PropertyListFormat::Xml));
    }
    // The page (of `to`, else of `view`) sends "madview://COMMAND" and a moment passes: the
    // scripts `view` was given.
    Lines page(const std::string& command, OrbadRichMediaWebAdView* to = nullptr) {
        plat::web::FakeWebEngine::of(to ? *to : *view)
            ->injectNavigation("madview://" + command, plat::ui::WebNavigationType::Other, false);
        dktest::turn(0.001);
        return scripts();
    }
    Lines scripts() { return dktest::newScripts(*view, m_seen); }
    Lines after(double seconds) {
        dktest::turn(seconds);
        return scripts();
    }

    dktest::TempDir m_dir;
    size_t m_seen = 0;
    std::shared_ptr<DeviceHost> host = std::make_shared<DeviceHost>();
    std::shared_ptr<OrbadRichMediaWebAdView> view;
};

// A desktop as production finds it: no stand-in's file, the default device turned to landscape.
TEST_F(DeviceCommandsTest, ProductionAnswersEveryInformationAndCapabilityRow) {
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeLeft);
    const std::pair<const char*, const char*> rows[] = {
        {"deviceBatteryState", "'c', -1.000000"},
        {"deviceUniqueId", "'c', '6D92078A-8246-4BA4-AE5B-76104861E7DC'"},
        {"deviceModel", "'c', 'iPhone'"},
        {"deviceSystemVersion", "'c', '6.1'"},
        {"deviceHardwareModel", "'c', 'iPhone4%2C1'"},
        {"deviceLanguage", "'c', 'fr'"},
        {"deviceLocale", "'c', 'fr_FR'"},
        {"deviceScalingFactor", "'c', 2.000000"},
        {"devicePlatform", "'c', 'iPhone OS'"},
        {"deviceScreenSize", "'c', 320.000000, 480.000000"},
        {"deviceInterfaceOrientation", "'c', 'LandscapeRight'"},
        {"deviceCurrentOrientation", "'c', 'LandscapeLeft'"},
        {"deviceAccelerometerAvailable", "'c', 1"},
        {"deviceGyroscopeAvailable", "'c', 0"},
        {"deviceDeviceMotionAvailable", "'c', 0"},
        {"deviceGPSAvailable", "'c', 0"},
        {"deviceMagnetometerAvailable", "'c', 0"},
        {"deviceCameraAvailable", "'c', 0"},
        {"deviceFlashlightAvailable", "'c', 0"},
        {"deviceCalendarReadAvailable", "'c', 0"},
        {"deviceCalendarWriteAvailable", "'c', 0"},
        {"deviceContactsWriteAvailable", "'c', 0"},
        {"deviceVibrateAvailable", "'c', 1"},
        {"deviceEmailAvailable", "'c', 0"},
        {"deviceSMSAvailable", "'c', 0"},
        {"deviceShakeListeningAvailable", "'c', 1"},
    };
    for (const auto& [command, answer] : rows) {
        EXPECT_EQ(page(std::string(command) + "?callbackFunctionName=c"), Lines{handler(answer)}) << command;
        EXPECT_EQ(page(command), Lines{}) << command << " without a function";
    }
    EXPECT_EQ(page("deviceScreenDensity?callbackFunctionName=c"), Lines{});
    EXPECT_FALSE(plat::sys::Device::current().isBatteryMonitoringEnabled());
}

TEST_F(DeviceCommandsTest, AnOldIPodNeitherVibratesNorShakes) {
    facts({{"model", "iPod touch"}, {"systemVersion", "2.2"}});
    EXPECT_EQ(page("deviceVibrateAvailable?callbackFunctionName=v"), Lines{handler("'v', 0")});
    EXPECT_EQ(page("deviceShakeListeningAvailable?callbackFunctionName=s"), Lines{handler("'s', 0")});
}

TEST_F(DeviceCommandsTest, NumbersAreWrittenTheCLocaleWayInAnyLocale) {
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    // The system's de_DE.UTF-8, else one compiled here from the locale sources.
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        const std::string compiled = m_dir.file("locales");
        std::filesystem::create_directories(compiled);
        (void)std::system(("localedef -i de_DE -f UTF-8 " + compiled + "/de_DE.UTF-8 >/dev/null 2>&1").c_str());
        setenv("LOCPATH", compiled.c_str(), 1);
        const bool made = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        unsetenv("LOCPATH");
        if (!made) GTEST_SKIP() << "no de_DE.UTF-8, and no locale sources to compile it from";
    }
    EXPECT_EQ(*std::localeconv()->decimal_point, ',');
    const Lines answer = page("deviceScreenSize?callbackFunctionName=c");
    std::setlocale(LC_NUMERIC, before.c_str());
    EXPECT_EQ(answer, Lines{handler("'c', 320.000000, 480.000000")});
}

TEST_F(DeviceCommandsTest, StandInsMakeTheirCapabilitiesAvailable) {
    service("motion", {{"gyroAvailable", true}});
    service("location", {{"headingAvailable", true}});
    for (const char* command : {"deviceGyroscopeAvailable", "deviceDeviceMotionAvailable", "deviceGPSAvailable",
                                "deviceMagnetometerAvailable"})
        EXPECT_EQ(page(std::string(command) + "?callbackFunctionName=c"), Lines{handler("'c', 1")}) << command;
}

// The query's answer, and only one, on the virtual clock.
TEST_F(DeviceCommandsTest, ConnectionTypeAnswersOncePerQuery) {
    const std::string query = "deviceConnectionType?successCallbackFunctionName=ok&errorCallbackFunctionName=err";
    const Lines wifi{handler("'ok', 'wifi'")}, none{handler("'ok', 'none'")};
    // Reachable: at once, and no timer or observation is left behind.
    EXPECT_EQ(page(query), wifi);
    plat::net::setNetOverride(NetOverride::None);
    dktest::turn(1);
    plat::net::setNetOverride(NetOverride::WiFi);
    EXPECT_EQ(after(20), Lines{});
    // Unreachable: "none" at 15 s.
    plat::net::setNetOverride(NetOverride::None);
    EXPECT_EQ(page(query), Lines{});
    EXPECT_EQ(after(14.9), Lines{});
    EXPECT_EQ(after(0.2), none);
    // A change at 3 s answers the new type once; the timer is gone with the query.
    EXPECT_EQ(page(query), Lines{});
    EXPECT_EQ(after(3), Lines{});
    plat::net::setNetOverride(NetOverride::WWAN);
    EXPECT_EQ(after(0.1), Lines{handler("'ok', 'carrier'")});
    plat::net::setNetOverride(NetOverride::None);
    dktest::turn(1);
    plat::net::setNetOverride(NetOverride::WiFi);
    EXPECT_EQ(after(20), Lines{});
    // Two queries 5 s apart: the first one's timer stays silent, the second answers at 20 s.
    plat::net::setNetOverride(NetOverride::None);
    dktest::turn(0.1);
    EXPECT_EQ(page(query), Lines{});
    EXPECT_EQ(after(5), Lines{});
    EXPECT_EQ(page(query), Lines{});
    EXPECT_EQ(after(14.9), Lines{});
    EXPECT_EQ(after(0.2), none);
    EXPECT_EQ(after(20), Lines{});
}

TEST_F(DeviceCommandsTest, OrientationChangesGoToTheLastRegisteredFunction) {
    plat::ui::Application application;  // through which the device's notifications come
    page("setDeviceOrientationChangeCallback?callbackFunctionName=first");
    page("setDeviceOrientationChangeCallback?callbackFunctionName=second");
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeRight);
    EXPECT_EQ(scripts(), Lines{handler("'second', 'LandscapeRight'")});
    page("setDeviceOrientationChangeCallback");
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationFaceUp);
    EXPECT_EQ(scripts(), Lines{});
}

TEST_F(DeviceCommandsTest, GyroscopeSamplesEveryIntervalUntilItsStop) {
    service("motion", {{"gyroAvailable", true}});
    plat::devices::MotionManager::setReading(MotionSensor::Gyro, {0.25, -1, 2});
    const std::string sample = handler("'g', 0.250000, -1.000000, 2.000000");
    EXPECT_EQ(page("gyroscopeStart?callbackFunctionName=g&interval=0.5&successCallbackFunctionName=ok"),
              (Lines{handler("'ok'"), sample}));
    EXPECT_EQ(after(1.0), Lines(2, sample));
    EXPECT_EQ(page("gyroscopeStop?successCallbackFunctionName=ok"), Lines{handler("'ok'")});
    EXPECT_EQ(after(2), Lines{});
    EXPECT_EQ(page("gyroscopeStop?errorCallbackFunctionName=e"), Lines{handler("'e', 'The gyroscope was not in use'")});
}

// Mended: a second start, or a stop and a start within one interval, left a second chain.
TEST_F(DeviceCommandsTest, OneSamplingChainPerMember) {
    service("motion", {});
    const std::string start = "accelerometerStart?callbackFunctionName=a&interval=0.5&successCallbackFunctionName=ok";
    const std::string sample = handler("'a', 0.000000, 0.000000, 0.000000");
    EXPECT_EQ(page(start), (Lines{sample, handler("'ok'")}));
    dktest::turn(0.2);
    page(start);
    page("accelerometerStop");
    page(start);
    scripts();
    EXPECT_EQ(after(1.01), Lines(2, sample));
}

// Mended: an interval that is absent, too small or no number rescheduled at once for ever.
TEST_F(DeviceCommandsTest, IntervalsAreAtLeastAHundredthOfASecond) {
    service("motion", {{"deviceMotionAvailable", true}});
    for (const char* interval : {"", "&interval=0", "&interval=-1", "&interval=abc", "&interval=nan", "&interval=inf",
                                 "&interval=1e999", "&interval=0.001"}) {
        page(std::string("deviceMotionStart?callbackFunctionName=m") + interval);
        EXPECT_EQ(after(0.095).size(), 9u) << interval;
        page("deviceMotionStop");
    }
}

// Mended: a second start without the motion class saved the view as the game's delegate.
TEST_F(DeviceCommandsTest, TheGameGetsItsAccelerometerBack) {
    Game game;
    plat::sys::Accelerometer& accelerometer = plat::sys::Accelerometer::shared();
    accelerometer.setDelegate(&game);
    accelerometer.setUpdateInterval(0.2);
    const std::string start = "accelerometerStart?callbackFunctionName=a&interval=0.05&successCallbackFunctionName=ok";
    EXPECT_EQ(page(start), Lines{handler("'ok'")});
    EXPECT_EQ(page(start), Lines{handler("'ok'")});
    EXPECT_NE(accelerometer.delegate(), &game);
    EXPECT_FLOAT_EQ(accelerometer.updateInterval(), 0.05f);  // read as a float
    accelerometer.deliver({0.5, -0.25, 1, 0});
    EXPECT_EQ(scripts(), Lines{handler("'a', 0.500000, -0.250000, 1.000000")});
    EXPECT_EQ(page("accelerometerStop?successCallbackFunctionName=ok"), Lines{handler("'ok'")});
    EXPECT_EQ(accelerometer.delegate(), &game);
    EXPECT_EQ(accelerometer.updateInterval(), 0.2);
}

// Mended: a view that took the accelerometer after another saved that other as the game's delegate,
// so the game got a gone view back, and the first view's stop set the interval under the second.
TEST_F(DeviceCommandsTest, TwoViewsGiveTheGameItsAccelerometerBackInEitherOrder) {
    Game game;
    plat::sys::Accelerometer& accelerometer = plat::sys::Accelerometer::shared();
    for (const bool firstGoesFirst : {true, false}) {
        accelerometer.setDelegate(&game);
        accelerometer.setUpdateInterval(0.2);
        auto second = loadedView();
        page("accelerometerStart?callbackFunctionName=a&interval=0.05");
        page("accelerometerStart?callbackFunctionName=b&interval=0.5", second.get());
        EXPECT_FLOAT_EQ(accelerometer.updateInterval(), 0.5f);
        if (firstGoesFirst) {
            view = loadedView();  // the first one gone, stopped by its cleanup
            EXPECT_FLOAT_EQ(accelerometer.updateInterval(), 0.5f) << "the second view still listens";
            second.reset();
        } else {
            second.reset();
            view = loadedView();
        }
        EXPECT_EQ(accelerometer.delegate(), &game) << firstGoesFirst;
        EXPECT_EQ(accelerometer.updateInterval(), 0.2) << firstGoesFirst;
        scripts();
    }
}

TEST_F(DeviceCommandsTest, LocationAndHeadingShareOneManager) {
    service("location", {{"headingAvailable", true}});
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(page("gpsStart?callbackFunctionName=g&distanceFilter=10&successCallbackFunctionName=ok"),
              Lines{handler("'ok'")});
    EXPECT_EQ(page("gpsStart?callbackFunctionName=g2&successCallbackFunctionName=ok"), Lines{});
    EXPECT_EQ(page("magnetometerStart?callbackFunctionName=h&successCallbackFunctionName=ok"), Lines{handler("'ok'")});
    EXPECT_EQ(plat::devices::LocationManager::liveCount(), 1);
    plat::devices::LocationManager::deliverLocation({52.5, 13.25, 34, 90, 1.5, 5, 10, 1700000000});
    plat::devices::LocationManager::deliverLocation(
        {52.50001, 13.25, 34, 90, 1.5, 5, 10, 1700000060});  // 1 m: filtered
    EXPECT_EQ(scripts(), Lines{"mAdViewCallbackHandler('g2','{\"altitude\":34,\"coordinate\":{\"latitude\":52.5,"
                               "\"longitude\":13.25},\"course\":90,\"horizontalAccuracy\":5,\"speed\":1.5,"
                               "\"timestamp\":\"2023-11-14T22:13+0000\",\"verticalAccuracy\":10}');"});
    page("gpsStop");
    EXPECT_EQ(plat::devices::LocationManager::liveCount(), 1);
    plat::devices::LocationManager::deliverHeading({271.5, 0});
    plat::devices::LocationManager::deliverLocation({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(scripts(), Lines{handler("'h', 271.500000")});
    page("magnetometerStop");
    EXPECT_EQ(plat::devices::LocationManager::liveCount(), 0);
    unsetenv("TZ");
    tzset();
}

TEST_F(DeviceCommandsTest, SensorsTheDeviceLacksAnswerOnlyTheirError) {
    const std::pair<std::string, std::string> cases[] = {
        {"gyroscopeStart?callbackFunctionName=x", "'e', 'The device is not capable of providing gyroscope data'"},
        {"deviceMotionStart?callbackFunctionName=x", "'e', 'The device is not capable of providing device motion data'"},
        {"gpsStart?callbackFunctionName=x", "'e', 'The device is not capable of providing gps data'"},
        {"magnetometerStart?callbackFunctionName=x", "'e', 'The device is not capable of providing magnetometer data'"},
        {"gyroscopeStart", "'e', 'No data callback function specified'"},
        {"accelerometerStop", "'e', 'The accelerometer was not in use'"},
        {"deviceMotionStop", "'e', 'Device motion was not in use'"},
        {"gpsStop", "'e', 'The GPS was not in use'"},
        {"magnetometerStop", "'e', 'The Magnetometer was not in use'"},
    };
    for (const auto& [command, answer] : cases) {
        const char* join = command.find('?') == std::string::npos ? "?" : "&";
        EXPECT_EQ(page(command + join + "errorCallbackFunctionName=e&successCallbackFunctionName=ok"),
                  Lines{handler(answer)})
            << command;
    }
    // A location service without a compass: the heading start undoes itself.
    service("location", {});
    EXPECT_EQ(page("magnetometerStart?callbackFunctionName=h&errorCallbackFunctionName=e&successCallbackFunctionName=ok"),
              Lines{handler("'e', 'The device is not capable of providing magnetometer data'")});
    EXPECT_EQ(plat::devices::LocationManager::liveCount(), 0);
    EXPECT_EQ(page("magnetometerStop?errorCallbackFunctionName=e"),
              Lines{handler("'e', 'The Magnetometer was not in use'")});
}

TEST_F(DeviceCommandsTest, ShakeListeningAndItsErrors) {
    const std::string ends = "&errorCallbackFunctionName=e&successCallbackFunctionName=ok";
    EXPECT_EQ(page("deviceStartShakeListening?errorCallbackFunctionName=e"),
              Lines{handler("'e', 'Error: no shakeEventListener Function specified'")});
    EXPECT_EQ(page("deviceStartShakeListening?callbackFunctionName=s1" + ends), Lines{handler("'ok'")});
    EXPECT_EQ(page("deviceStartShakeListening?callbackFunctionName=s2" + ends),
              Lines{handler("'e', 'Error: already listening for shake events'")});
    view->motionEnded(OrbadRichMediaWebAdView::kOrbadShakeMotion);
    view->motionEnded(0);
    EXPECT_EQ(scripts(), Lines{handler("'s2'")});
    EXPECT_EQ(page("deviceStopShakeListening?" + ends.substr(1)), Lines{handler("'ok'")});
    EXPECT_EQ(page("deviceStopShakeListening?" + ends.substr(1)),
              Lines{handler("'e', 'Error: nothing to stop, was not listening for shake events'")});
    view->motionEnded(OrbadRichMediaWebAdView::kOrbadShakeMotion);
    EXPECT_EQ(scripts(), Lines{});
}

TEST_F(DeviceCommandsTest, DismissalStopsEveryListeningWithoutAReply) {
    service("motion", {{"gyroAvailable", true}, {"deviceMotionAvailable", true}});
    service("location", {{"headingAvailable", true}});
    const std::string ends = "&errorCallbackFunctionName=e&successCallbackFunctionName=ok&interval=0.1";
    for (const char* start : {"accelerometerStart", "gyroscopeStart", "deviceMotionStart", "gpsStart",
                              "magnetometerStart", "deviceStartShakeListening"})
        page(std::string(start) + "?callbackFunctionName=x" + ends);
    view->adHasBeenDismissed();
    EXPECT_EQ(scripts(), Lines{orbad::kOrbadPauseScript});
    plat::devices::LocationManager::deliverLocation({});
    view->motionEnded(OrbadRichMediaWebAdView::kOrbadShakeMotion);
    EXPECT_EQ(after(1), Lines{});
    EXPECT_EQ(plat::devices::LocationManager::liveCount(), 0);
}

}  // namespace
