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
}

// Each type, and what gives no profile at all (never a crash).
TEST(DKProvisioningProfile, TypeFromGetTaskAllowThenDevicesOrNoProfile) {
    dktest::TempDir dir;
    const std::string good = xml(profile(false, true));
    const std::size_t end = good.find("</plist>");
    constexpr int kNone = -1;
    const struct Case {
        const char* what;
        std::string bytes;
        int type;
    } cases[] = {
        {"allowed", envelope(xml(profile(true, false))), DKProvisioningProfileTypeDevelopment},
        {"allowed, devices", envelope(xml(profile(true, true))), DKProvisioningProfileTypeDevelopment},
        {"refused, devices", envelope(good), DKProvisioningProfileTypeAdHoc},
        {"absent, devices", envelope(xml(profile(std::nullopt, true))), DKProvisioningProfileTypeAdHoc},
        {"refused", envelope(xml(profile(false, false))), DKProvisioningProfileTypeAppStore},
        {"absent", envelope(xml(profile(std::nullopt, false))), DKProvisioningProfileTypeAppStore},
        {"plain XML, no envelope", good, DKProvisioningProfileTypeAdHoc},
        {"a stray end marker before the start", envelope("</plist>" + good), DKProvisioningProfileTypeAdHoc},
        {"end marker only before the start", envelope("</plist>" + good.substr(0, end)), kNone},
        {"no start marker", envelope(good.substr(good.find("<plist"))), kNone},
        {"no end marker", envelope(good.substr(0, end)), kNone},
        {"nothing at all", "", kNone},
        {"a broken list between", envelope("<?xml version=\"1.0\"?><plist><dict><key>Name</key></plist>"), kNone},
        {"no dictionary", envelope(xml(Value::Array{"a"})), kNone},
    };
    for (const Case& c : cases) {
        dktest::writeFile(dir.file("p"), c.bytes);
        std::optional<DKProvisioningProfile> p = DKProvisioningProfile::createWithContentsOfFile(dir.file("p"));
        EXPECT_EQ(p ? p->type() : kNone, c.type) << c.what;
    }
    EXPECT_FALSE(DKProvisioningProfile::createWithContentsOfFile(dir.file("missing")));
    EXPECT_FALSE(DKProvisioningProfile::createWithContentsOfFile(dir.path()));
}

}  // namespace
