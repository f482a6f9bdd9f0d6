// Profiles made here as the signing tools make them: a binary envelope with the property list's
// XML inside it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/PropertyList.h"
#include "platform/util/DKProvisioningProfile.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Value;

// DER-like bytes, many above 0x7F, as the signature's envelope has them around the XML.
const std::string kPrefix("\x30\x82\x1f\xa0\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02\xa0\x00\xff", 18);
const std::string kSuffix("\xa0\x82\x0d\xff\x00\xfe\x31\x82\x01\x80", 10);

std::string xml(const Value& plist) {
    return *plat::foundation::serializePropertyList(plist, plat::foundation::PropertyListFormat::Xml);
}

Value profile(std::optional<bool> getTaskAllow, bool devices) {
    Value::Dictionary entitlements{{"application-identifier", "ABCDE12345.com.test.game"}};
    if (getTaskAllow) entitlements["get-task-allow"] = *getTaskAllow;
    Value::Dictionary plist{
        {"Name", "Test Profile"},
        {"Entitlements", entitlements},
        {"DeveloperCertificates", Value::Array{Value(plat::foundation::Data{0x30, 0x82})}}};
    if (devices) plist["ProvisionedDevices"] = Value::Array{"0123456789abcdef"};
    return plist;
}

std::string envelope(const std::string& inside) {
    return kPrefix + inside + kSuffix;
}

TEST(DKProvisioningProfile, ReadsThePropertyListInsideTheEnvelope) {
    dktest::TempDir dir;
    const std::string path = dir.file("embedded.mobileprovision");
    dktest::writeFile(path, envelope(xml(profile(true, false))));
    std::optional<DKProvisioningProfile> p = DKProvisioningProfile::createWithContentsOfFile(path);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path(), path);
    EXPECT_EQ(p->plistData(), profile(true, false));
    ASSERT_TRUE(p->name() && p->applicationIdentifier() && p->entitlements() && p->developerCertificates());
    EXPECT_EQ(*p->name(), "Test Profile");
    EXPECT_EQ(*p->applicationIdentifier(), "ABCDE12345.com.test.game");
    EXPECT_EQ(p->developerCertificates()->array()->size(), 1u);

    p->setPlistData(Value::Dictionary{{"Name", 7}});
    EXPECT_EQ(p->name(), nullptr);
    EXPECT_EQ(p->entitlements(), nullptr);
    EXPECT_EQ(p->applicationIdentifier(), nullptr);
    EXPECT_EQ(p->type(), DKProvisioningProfileTypeAppStore);
}

TEST(DKProvisioningProfile, TypeFromGetTaskAllowThenDevices) {
    dktest::TempDir dir;
    const struct Case {
        std::optional<bool> getTaskAllow;
        bool devices;
        DKProvisioningProfileType type;
    } cases[] = {
        {true, false, DKProvisioningProfileTypeDevelopment},
        {true, true, DKProvisioningProfileTypeDevelopment},  // get-task-allow comes first
        {false, true, DKProvisioningProfileTypeAdHoc},
        {std::nullopt, true, DKProvisioningProfileTypeAdHoc},
        {false, false, DKProvisioningProfileTypeAppStore},
        {std::nullopt, false, DKProvisioningProfileTypeAppStore},
    };
    for (const Case& c : cases) {
        dktest::writeFile(dir.file("p"), envelope(xml(profile(c.getTaskAllow, c.devices))));
        std::optional<DKProvisioningProfile> p =
            DKProvisioningProfile::createWithContentsOfFile(dir.file("p"));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->type(), c.type) << (c.getTaskAllow ? *c.getTaskAllow ? "allowed" : "refused" : "absent")
                                     << (c.devices ? ", devices" : "");
    }
}

TEST(DKProvisioningProfile, MarkersMissingOrOutOfOrderOrABrokenListGiveNoProfile) {
    dktest::TempDir dir;
    const std::string good = xml(profile(false, true));
    const std::size_t end = good.find("</plist>");
    const struct Case {
        const char* what;
        std::string bytes;
        bool loads;
    } cases[] = {
        {"plain XML, no envelope", good, true},
        {"a stray end marker before the start", envelope("</plist>" + good), true},
        {"end marker only before the start", envelope("</plist>" + good.substr(0, end)), false},
        {"no start marker", envelope(good.substr(good.find("<plist"))), false},
        {"no end marker", envelope(good.substr(0, end)), false},
        {"nothing at all", "", false},
        {"a broken list between", envelope("<?xml version=\"1.0\"?><plist><dict><key>Name</key></plist>"),
         false},
        {"no dictionary", envelope(xml(Value::Array{"a"})), false},
    };
    for (const Case& c : cases) {
        dktest::writeFile(dir.file("p"), c.bytes);
        EXPECT_EQ(DKProvisioningProfile::createWithContentsOfFile(dir.file("p")).has_value(), c.loads)
            << c.what;
    }
    EXPECT_FALSE(DKProvisioningProfile::createWithContentsOfFile(dir.file("missing")));
    EXPECT_FALSE(DKProvisioningProfile::createWithContentsOfFile(dir.path()));
}

}  // namespace
