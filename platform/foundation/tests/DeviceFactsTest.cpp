// Device facts: languages and locale from the environment, the overrides file, the identifier kept.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Value.h"
#include "platform/sys/Device.h"
#include "platform/sys/DeviceFacts.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Value;

TEST(DeviceFacts, LanguagesAndLocaleFromTheEnvironment) {
    struct Case {
        const char* language;
        const char* lang;
        std::vector<std::string> languages;
        std::string locale;
    };
    const Case cases[] = {
        {nullptr, nullptr, {"en"}, "en"},
        {nullptr, "C", {"en"}, "en"},
        {"fr:de", "POSIX", {"en"}, "en"},  // LANGUAGE counts only outside the C locale
        {nullptr, "de_AT.UTF-8@euro", {"de"}, "de_AT"},
        {"fr:pt_BR:fr_CA", "en_US.UTF-8", {"fr", "pt", "en"}, "en_US"},
        {"", "ja", {"ja"}, "ja"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plat::sys::preferredLanguages(c.language, c.lang), c.languages) << (c.lang ? c.lang : "unset");
        EXPECT_EQ(plat::sys::localeIdentifier(c.lang), c.locale) << (c.lang ? c.lang : "unset");
    }
}

TEST(DeviceFacts, TheFileOverridesWhatItNames) {
    plat::sys::DeviceFacts facts = plat::sys::systemDeviceFacts();
    const plat::sys::DeviceFacts before = facts;
    Value overrides(Value::Dictionary{{"machine", "iPhone5,2"},
                                      {"languages", Value::Array{"de", "en"}},
                                      {"screenWidth", 320},
                                      {"advertisingIdentifier", ""},
                                      {"advertisingTrackingEnabled", false},
                                      {"freeMemory", 1024},
                                      {"idiom", "pad"},
                                      {"screenScale", 2},
                                      {"batteryLevel", 0.25},
                                      {"batteryState", 2},
                                      {"timeZone", "Asia/Tokyo"},
                                      {"model", 7}});
    plat::foundation::Error error;
    EXPECT_FALSE(plat::foundation::applyDeviceFactsOverrides(overrides, facts, &error));
    EXPECT_EQ(error.message, "the device fact \"model\" has the wrong type");
    EXPECT_EQ(facts.machine, "iPhone5,2");
    EXPECT_EQ(facts.languages, (std::vector<std::string>{"de", "en"}));
    EXPECT_EQ(facts.screenWidth, 320);
    EXPECT_EQ(facts.screenHeight, before.screenHeight);
    EXPECT_EQ(facts.advertisingIdentifier, "");
    EXPECT_FALSE(facts.advertisingTrackingEnabled);
    EXPECT_EQ(facts.freeMemory, 1024u);
    EXPECT_EQ(facts.model, before.model);
    EXPECT_EQ(facts.idiom, plat::sys::kUserInterfaceIdiomPad);
    EXPECT_EQ(facts.screenScale, 2);
    EXPECT_EQ(facts.batteryLevel, 0.25);
    EXPECT_EQ(facts.batteryState, plat::sys::kBatteryStateCharging);
    EXPECT_EQ(facts.timeZone, "Asia/Tokyo");
}

// --device-facts as a FIFO held the start in its open for ever, as /dev/zero grew without end: the
// facts are the system's, and the file is named once with why.
TEST(DeviceFacts, AFactsFileThatIsNoFileIsNamedAndLeftOut) {
    dktest::TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("facts.fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("facts.zero"));
    const plat::sys::DeviceFacts system = plat::foundation::deviceFacts();
    for (const auto& [file, why] : {std::pair{dir.file("facts.fifo"), "not a file (a FIFO)"},
                                    std::pair{dir.file("facts.zero"), "not a file (a character device)"}}) {
        plat::foundation::setDeviceFactsFile(file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(plat::foundation::deviceFacts().machine, system.machine);
        EXPECT_EQ(plat::foundation::deviceFacts().screenWidth, system.screenWidth);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "device facts: " + file + ": " + why + "\n");
    }
    plat::foundation::setDeviceFactsFile("");
}

TEST(DeviceFacts, OutOfRangeEntriesAreRefused) {
    const std::pair<const char*, Value> cases[] = {
        {"idiom", "tv"}, {"batteryLevel", 1.5}, {"batteryLevel", -0.5}, {"batteryState", 4}, {"screenScale", 0},
    };
    for (const auto& [key, value] : cases) {
        plat::sys::DeviceFacts facts;
        EXPECT_FALSE(plat::foundation::applyDeviceFactsOverrides(Value(Value::Dictionary{{key, value}}), facts)) << key;
        EXPECT_EQ(facts.batteryLevel, -1) << key;
        EXPECT_EQ(facts.idiom, plat::sys::kUserInterfaceIdiomPhone) << key;
    }
}

// A power-supply directory with the supplies given as name -> {file -> contents}.
std::string makePowerSupplies(const dktest::TempDir& dir,
                              const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>& supplies) {
    const std::string root = dir.file("power_supply");
    std::filesystem::create_directories(root);
    for (const auto& [name, files] : supplies) {
        std::filesystem::create_directories(root + "/" + name);
        for (const auto& [file, contents] : files) dktest::writeFile(root + "/" + name + "/" + file, contents);
    }
    return root;
}

TEST(DeviceFacts, TheBatteryFromThePowerSupplies) {
    using Files = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, Files>> supplies;
        double level;
        int state;
    };
    const Case cases[] = {
        {"none", {}, -1, plat::sys::kBatteryStateUnknown},
        {"mains only", {{"AC", {{"type", "Mains\n"}, {"online", "1\n"}}}}, -1, plat::sys::kBatteryStateUnknown},
        {"discharging",
         {{"AC", {{"type", "Mains\n"}}}, {"BAT0", {{"type", "Battery\n"}, {"capacity", "57\n"}, {"status", "Discharging\n"}}}},
         0.57, plat::sys::kBatteryStateUnplugged},
        {"charging", {{"BAT1", {{"type", "Battery\n"}, {"capacity", "80\n"}, {"status", "Charging\n"}}}}, 0.8,
         plat::sys::kBatteryStateCharging},
        {"full, no type", {{"BAT0", {{"capacity", "100"}, {"status", "Full"}}}}, 1, plat::sys::kBatteryStateFull},
        {"odd status", {{"BAT0", {{"capacity", "3\n"}, {"status", "Unknown\n"}}}}, 0.03, plat::sys::kBatteryStateUnknown},
        {"unreadable capacity", {{"BAT0", {{"type", "Battery\n"}, {"capacity", "n/a\n"}}}}, -1,
         plat::sys::kBatteryStateUnknown},
    };
    for (const Case& c : cases) {
        dktest::TempDir dir;
        plat::sys::Battery battery = plat::sys::readBattery(makePowerSupplies(dir, c.supplies));
        EXPECT_DOUBLE_EQ(battery.level, c.level) << c.name;
        EXPECT_EQ(battery.state, c.state) << c.name;
    }
    EXPECT_EQ(plat::sys::readBattery("/nonexistent/power_supply").level, -1);
}

TEST(DeviceFacts, TheTimeZoneFromTZElseTheLocalTimeLink) {
    dktest::TempDir dir;
    const std::string linked = dir.file("localtime"), plain = dir.file("plain");
    std::filesystem::create_symlink("/usr/share/zoneinfo/America/New_York", linked);
    dktest::writeFile(plain, "TZif");
    EXPECT_EQ(plat::sys::timeZoneName("Europe/Paris", linked), "Europe/Paris");
    EXPECT_EQ(plat::sys::timeZoneName(":Asia/Tokyo", linked), "Asia/Tokyo");
    EXPECT_EQ(plat::sys::timeZoneName("", linked), "America/New_York");
    EXPECT_EQ(plat::sys::timeZoneName(nullptr, linked), "America/New_York");
    EXPECT_EQ(plat::sys::timeZoneName(nullptr, plain), "GMT");
    EXPECT_EQ(plat::sys::timeZoneName(nullptr, dir.file("missing")), "GMT");
}

TEST(DeviceFacts, TheAdvertisingIdentifierIsMadeOnceAndKept) {
    dktest::TempDir home;
    std::optional<plat::foundation::Container> container = plat::foundation::Container::open("ids", home.path());
    ASSERT_TRUE(container);
    plat::foundation::Container::setMain(*container);
    std::string first = plat::foundation::deviceFacts().advertisingIdentifier;
    EXPECT_EQ(first.size(), 36u);
    EXPECT_EQ(plat::foundation::deviceFacts().advertisingIdentifier, first);
    EXPECT_EQ(dktest::readFile(home.path() + "/Library/AdSupport/advertisingIdentifier"), first + "\n");
}

}  // namespace
