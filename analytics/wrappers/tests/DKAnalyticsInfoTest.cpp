#include "analytics/wrappers/DKAnalyticsInfo.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Value;

std::string xml(const Value& value) {
    return *plat::foundation::serializePropertyList(value, plat::foundation::PropertyListFormat::Xml);
}

// A profile as the signing tools wrap it: binary bytes around the property list's XML.
std::string profile(const Value::Dictionary& plist) {
    return std::string("\x30\x82\x1f\xa0\x06\x09\x2a\x86\x48\xa0\x00\xff", 12) + xml(plist) +
           std::string("\xa0\x82\x0d\xff\x00\xfe", 6);
}

// A bundle with `info` as its Info.plist and, when given, those bytes as its profile.
struct TestBundle {
    dktest::TempDir dir;
    std::optional<plat::foundation::Bundle> bundle;
    TestBundle(const Value::Dictionary& info, const std::optional<std::string>& profileBytes) {
        dktest::writeFile(dir.file("Info.plist"), xml(info));
        if (profileBytes) dktest::writeFile(dir.file("embedded.mobileprovision"), *profileBytes);
        bundle = plat::foundation::Bundle::open(dir.path());
    }
};

const Value::Dictionary kIds{{"DKUserID", "u1"}, {"DKAppID", "a1"}, {"DKReleaseID", "r1"}};

}  // namespace

TEST(DKAnalyticsIOSInfo, ModelNamesByMachine) {
    const struct {
        const char* machine;
        const char* model;
    } cases[] = {
        {"iPhone1,1", "iPhone_1G"},   {"iPhone1,2", "iPhone_3G"},        {"iPhone2,1", "iPhone_3GS"},
        {"iPhone3,1", "iPhone_4"},    {"iPhone3,3", "Verizon_iPhone_4"}, {"iPhone4,1", "iPhone_4S"},
        {"iPod1,1", "iPod_Touch_1G"}, {"iPod2,1", "iPod_Touch_2G"},      {"iPod3,1", "iPod_Touch_3G"},
        {"iPod4,1", "iPod_Touch_4G"}, {"iPad1,1", "iPad"},               {"iPad2,1", "iPad_2_WiFi"},
        {"iPad2,2", "iPad_2_GSM"},    {"iPad2,3", "iPad_2_CDMA"},        {"i386", "Simulator"},
        {"x86_64", "Simulator"},
        // Unknown machines, near misses included, pass unchanged.
        {"iPhone5,2", "iPhone5,2"},   {"iphone4,1", "iphone4,1"},        {"iPhone4,1 ", "iPhone4,1 "},
    };
    for (const auto& c : cases) EXPECT_EQ(DKAnalyticsIOSInfo::platformString(c.machine), c.model) << c.machine;
}

TEST(DKAnalyticsIOSInfo, ProfileTypeAndEntriesFromTheBundle) {
    const Value::Dictionary development{{"Entitlements", Value::Dictionary{{"get-task-allow", true}}},
                                        {"ProvisionedDevices", Value::Array{"0123"}}};
    const Value::Dictionary adHoc{{"ProvisionedDevices", Value::Array{"0123"}}};
    const Value::Dictionary appStore{{"Name", "Store"}};
    const struct Case {
        const char* what;
        std::optional<std::string> profileBytes;
        const char* type;
    } cases[] = {
        {"no profile", std::nullopt, "appstore"},
        {"ad hoc", profile(adHoc), "adhoc"},
        {"development", profile(development), "development"},
        {"app store", profile(appStore), "appstore"},
        {"damaged", profile(appStore).substr(0, 60), "development"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestBundle b(kIds, c.profileBytes);
        ASSERT_TRUE(b.bundle);
        DKAnalyticsIOSInfo info(&*b.bundle, "iPhone4,1");
        const DKAnalyticsInfo::Data expected{{"DKUserID", "u1"}, {"DKAppID", "a1"},  {"DKReleaseID", "r1"},
                                             {"Model", "iPhone_4S"}, {"profileType", c.type}};
        EXPECT_EQ(info.analyticsData(), expected);
    }
}

TEST(DKAnalyticsIOSInfo, MissingValuesAreLeftOut) {
    TestBundle b({{"DKUserID", "u1"}, {"DKAppID", Value(int64_t(7))}}, std::nullopt);
    ASSERT_TRUE(b.bundle);
    DKAnalyticsIOSInfo info(&*b.bundle, "");
    EXPECT_EQ(info.analyticsData(), (DKAnalyticsInfo::Data{{"DKUserID", "u1"}, {"profileType", "appstore"}}));
    EXPECT_EQ(info.value("DKReleaseID"), nullptr);
    EXPECT_EQ(DKAnalyticsIOSInfo(nullptr, "x86_64").analyticsData(),
              (DKAnalyticsInfo::Data{{"Model", "Simulator"}, {"profileType", "appstore"}}));
}
