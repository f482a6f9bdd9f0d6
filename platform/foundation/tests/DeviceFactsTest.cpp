// Device facts: languages and locale from the environment, the overrides file, the identifier kept.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/foundation/Container.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Value.h"
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
