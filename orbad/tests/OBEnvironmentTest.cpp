// The environment the ad client reports, from a bundle, device facts, the carrier's file and the
// attribution pasteboard; the session identifier.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "orbad/core/OBConfigQuery.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OBSessionTracking.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/Reachability.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;
using orbad::OBEnvironment;
using orbad::OBSessionTracking;

const char* kAdvertisingId = "6D92078A-8246-4BA4-AE5B-76104861E7DC";

class OBEnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        info(Value::Dictionary{{"CFBundleExecutable", "PlayerTest"}, {"CFBundleVersion", "1.0.3"}});
        facts({});
        Pasteboard::setDirectory(m_dir.file("boards"));
        m_container = Container::open("com.test.player", m_dir.file("home"));
        Container::setMain(*m_container);
    }
    void TearDown() override {
        setDeviceFactsFile("");
        orbad::OBSession::shutdown();
    }
    void info(Value::Dictionary entries) {
        std::filesystem::create_directories(m_dir.file("PlayerTest.app"));
        ASSERT_TRUE(writePropertyList(m_dir.file("PlayerTest.app/Info.plist"), Value(std::move(entries)),
                                      PropertyListFormat::Xml));
        Bundle::setMain(*Bundle::open(m_dir.file("PlayerTest.app")));
    }
    // The test device's facts with `changes` over them.
    void facts(Value::Dictionary changes) {
        Value::Dictionary all{{"machine", "iPhone4,1"},      {"systemVersion", "6.1"},
                              {"macAddress", "00:1a:2b:3c:4d:5e"}, {"advertisingIdentifier", kAdvertisingId},
                              {"timeZone", "Europe/Berlin"}, {"languages", Value::Array{"fr", "en"}},
                              {"locale", "fr_FR"}};
        for (auto& [key, value] : changes) all[key] = value;
        ASSERT_TRUE(writePropertyList(m_dir.file("facts.plist"), Value(std::move(all)), PropertyListFormat::Xml));
        setDeviceFactsFile(m_dir.file("facts.plist"));
    }
    dktest::TempDir m_dir;
    std::optional<Container> m_container;
};

TEST_F(OBEnvironmentTest, GathersTheApplicationAndTheDevice) {
    OBEnvironment env("APP123");
    EXPECT_EQ(env.applicationId(), "APP123");
    EXPECT_EQ(env.applicationVersion(), "1.0.3");
    EXPECT_EQ(env.deviceType(), "iPhone4_1");
    EXPECT_EQ(env.libaryVersion(), "6.1.2");
    EXPECT_EQ(env.language(), "fr");
    EXPECT_EQ(env.locale(), "fr_FR");
    EXPECT_EQ(env.timeZone(), "Europe/Berlin");
    EXPECT_EQ(env.initialLogLevel(), 8u);
    EXPECT_FALSE(env.hasTelephonyNetworkInfo());
    EXPECT_EQ(env.mobileCountryCode(), std::nullopt);
    EXPECT_EQ(OBEnvironment::deviceIdentifier(), kAdvertisingId);
    EXPECT_FALSE(OBEnvironment::limitTracking());

    facts({{"timeZone", "GMT"}, {"languages", Value::Array{}}});
    EXPECT_EQ(OBEnvironment("x").timeZone(), std::nullopt);
    EXPECT_EQ(OBEnvironment("x").language(), std::nullopt);
}

TEST_F(OBEnvironmentTest, TheApplicationIdFromTheInfoPlistElseALogicError) {
    EXPECT_THROW(OBEnvironment(), std::logic_error);
    info(Value::Dictionary{{"OBApplicationId", "PLIST9"}});
    EXPECT_EQ(OBEnvironment().applicationId(), "PLIST9");
    EXPECT_EQ(OBEnvironment("ARG").applicationId(), "ARG");
}

TEST_F(OBEnvironmentTest, TheLogLevelIsKeptBetweenOneAndSixteen) {
    const std::pair<std::optional<Value>, unsigned long> cases[] = {
        {std::nullopt, 8}, {Value(0), 1}, {Value(16), 16}, {Value(17), 16}, {Value(-1), 16},
        {Value("4"), 4},   {Value("-3"), 16}, {Value(2.9), 2}, {Value(Value::Array{}), 8},
    };
    for (const auto& [value, level] : cases)
        EXPECT_EQ(OBEnvironment::logLevelFor(value ? &*value : nullptr), level) << (value ? value->description() : "none");
    info(Value::Dictionary{{"OBLogLevel", "2"}});
    EXPECT_EQ(OBEnvironment("x").initialLogLevel(), 2u);
}

TEST_F(OBEnvironmentTest, OldSystemsUseODIN1AndNeverLimitTracking) {
    facts({{"systemVersion", "5.1"}, {"advertisingTrackingEnabled", false}});
    // SHA-1 of the bytes 00 1a 2b 3c 4d 5e.
    EXPECT_EQ(OBEnvironment::deviceIdentifier(), "b4d86968aa36fcfd36ded2445caf5c93e9c2ea74");
    EXPECT_FALSE(OBEnvironment::limitTracking());
    facts({{"advertisingTrackingEnabled", false}});
    EXPECT_TRUE(OBEnvironment::limitTracking());
    facts({{"macAddress", ""}});
    EXPECT_EQ(orbad::OBODIN1(), "");
}

TEST_F(OBEnvironmentTest, CarrierCodesOnlyWithTheCarriersFile) {
    std::filesystem::create_directories(m_dir.file("home/Library/LocalServices"));
    ASSERT_TRUE(writePropertyList(m_dir.file("home/Library/LocalServices/carrier.plist"),
                                  Value::Dictionary{{"mobileCountryCode", "310"}, {"mobileNetworkCode", "410"},
                                                    {"isoCountryCode", "us"}},
                                  PropertyListFormat::Xml));
    OBEnvironment env("x");
    EXPECT_TRUE(env.hasTelephonyNetworkInfo());
    EXPECT_EQ(env.mobileCountryCode(), "310");
    EXPECT_EQ(env.mobileNetworkCode(), "410");
    EXPECT_EQ(env.isoCountryCode(), "us");
}

TEST_F(OBEnvironmentTest, TheAttributionIdIsReadWithoutMakingThePasteboard) {
    EXPECT_EQ(OBEnvironment::getFacebookAttributionId(), std::nullopt);
    EXPECT_EQ(OBEnvironment::getFacebookAttributionKeyword(), std::nullopt);
    EXPECT_TRUE(Pasteboard::names().empty());
    std::unique_ptr<Pasteboard> board = Pasteboard::named("fb_app_attribution", true);
    board->setPersistent(true);
    board->setString("abc 123");
    EXPECT_EQ(OBEnvironment::getFacebookAttributionKeyword(), "FBATTRID:abc 123");
}

TEST_F(OBEnvironmentTest, ConnectionAndLocationTexts) {
    OBEnvironment env("x");
    const std::pair<const char*, const char*> nets[] = {{"wifi", "wifi"}, {"wwan", "carrier"}, {"none", "none"}};
    for (const auto& [net, text] : nets) {
        plat::net::setNetOverride(plat::net::parseNetOverride(net));
        EXPECT_EQ(env.connectionType(), text) << net;
    }
    plat::net::setNetOverride(std::nullopt);
    EXPECT_EQ(env.location(), "null");
    orbad::OBSession::currentSession()->setLocation(orbad::OBLocation{1.5, -2.25, 10});
    EXPECT_EQ(env.location(), "1.500000,-2.250000");
    orbad::OBSession::currentSession()->setLocation(orbad::OBLocation{1.5, -2.25, -1});
    EXPECT_EQ(env.location(), "null");
}

struct NoConfig : orbad::OBSessionConfig {
    double idleTimeoutInterval() const override { return 120; }
    bool hasConfigFailed() const override { return false; }
    void updateConfigurationForEnvironment(OBEnvironment&) override {}
};

TEST_F(OBEnvironmentTest, TheConfigurationQueryOfAFirstRunAndOfAnOldSystem) {
    plat::net::setNetOverride(plat::net::parseNetOverride("wifi"));
    auto env = std::make_shared<OBEnvironment>("APP123");
    NoConfig config;
    OBSessionTracking tracking(env, config, m_dir.file("tracking.plist"));
    EXPECT_EQ(orbad::configurationQuery(*env, tracking, "6.1"),
              "?a=APP123&p=iphone&rt=obnative&rtv=6.1&m=6.1.2&v=1.0.3&de=" + orbad::orbadEncode(kAdvertisingId) +
                  "&lt=0&dm=iPhone4_1&dv=6_1&g=wifi&ll=null&off=0&st=0.000000&it=0.000000&new=true&");
    EXPECT_FALSE(tracking.firstRun());

    // Below 6.0: no "lt"; the ODIN-1 is recorded first, and sent as "pd" once the device's differs.
    facts({{"systemVersion", "5.1"}});
    const std::string odin = orbad::OBODIN1();
    std::string query = orbad::configurationQuery(*env, tracking, "5.1");
    EXPECT_EQ(query.find("lt="), std::string::npos);
    EXPECT_EQ(query.find("pd="), std::string::npos);
    EXPECT_EQ(tracking.originalUDID(), odin);
    facts({{"systemVersion", "5.1"}, {"macAddress", "00:1a:2b:3c:4d:5f"}});
    query = orbad::configurationQuery(*env, tracking, "5.1");
    EXPECT_NE(query.find("&pd=" + odin + "&"), std::string::npos) << query;
    plat::net::setNetOverride(std::nullopt);
}

TEST_F(OBEnvironmentTest, QueryValuesAreEscapedOnlyWhereAComponentCannotHoldThem) {
    const std::pair<const char*, const char*> cases[] = {
        {"APP123", "APP123"},
        {"1.500000,-2.250000", "1.500000,-2.250000"},
        {"a b&c=d", "a%20b%26c=d"},
        {"\"#%+<>\\^`{|}", "%22%23%25%2B%3C%3E%5C%5E%60%7B%7C%7D"},
        {"\x01\x7f\xc3\xa9", "%01%7F%C3%A9"},
        {"/?:@!$'()*;", "/?:@!$'()*;"},
    };
    for (const auto& [value, component] : cases) EXPECT_EQ(orbad::obQueryComponent(value), component) << value;

    // Carrier codes and the attribution id go through it.
    std::filesystem::create_directories(m_dir.file("home/Library/LocalServices"));
    ASSERT_TRUE(writePropertyList(m_dir.file("home/Library/LocalServices/carrier.plist"),
                                  Value::Dictionary{{"mobileCountryCode", "310"}, {"mobileNetworkCode", "4 1"}},
                                  PropertyListFormat::Xml));
    std::unique_ptr<Pasteboard> board = Pasteboard::named("fb_app_attribution", true);
    board->setPersistent(true);
    board->setString("id with spaces");
    auto env = std::make_shared<OBEnvironment>("APP 1");
    NoConfig config;
    OBSessionTracking tracking(env, config, m_dir.file("tracking.plist"));
    const std::string query = orbad::configurationQuery(*env, tracking, "6.1");
    EXPECT_EQ(query.substr(0, 10), "?a=APP%201");
    EXPECT_NE(query.find("&fb=id%20with%20spaces&dm="), std::string::npos) << query;
    EXPECT_TRUE(query.ends_with("&new=true&mcc=310&mnc=4%201&")) << query;
}

TEST(OBSession, IdentifiersAreUpperCaseSHA1OfTheMilliseconds) {
    EXPECT_EQ(orbad::OBSession::identifierForDate(1357000000.001), "F1C37A5CE4E1B86CAF1F389B2504DD5395F6E19A");
    const std::string a = orbad::OBSession::identifierForDate(1357000000.001);
    const std::string b = orbad::OBSession::identifierForDate(1357000000.002);
    EXPECT_NE(a, b);
    for (const std::string& id : {a, b}) {
        EXPECT_EQ(id.size(), 40u);
        EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
    }
    EXPECT_EQ(orbad::fixedSix(1357000000001.0), "1357000000001.000000");
    EXPECT_EQ(orbad::fixedSix(-2.25), "-2.250000");
}

}  // namespace
