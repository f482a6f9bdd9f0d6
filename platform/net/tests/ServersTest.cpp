// Server addresses from the DROVIK_SERVERS property list, and the fallbacks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "platform/net/Servers.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::PropertyListFormat;
using plat::foundation::Value;
using plat::net::serverBase;

TEST(Servers, NamedEntriesElseTheFallback) {
    dktest::TempDir dir;
    const std::string path = dir.file("s.plist");
    ASSERT_TRUE(plat::foundation::writePropertyList(
        path, Value::Dictionary{{"metrics", "http://127.0.0.1:8080/m"}, {"ads", Value(42)}}, PropertyListFormat::Binary));
    setenv("DROVIK_SERVERS", path.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(serverBase("metrics", "https://metrics.example"), "http://127.0.0.1:8080/m");
    EXPECT_EQ(serverBase("kiosk", "https://kiosk.example"), "https://kiosk.example");
    EXPECT_EQ(serverBase("ads", "https://ads.example"), "https://ads.example");
    EXPECT_EQ(serverBase("ads", "https://ads.example"), "https://ads.example");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "DROVIK_SERVERS: the entry \"ads\" of " + path + " is no string\n");  // once
    unsetenv("DROVIK_SERVERS");
    EXPECT_EQ(serverBase("metrics", "https://metrics.example"), "https://metrics.example");
}

TEST(Servers, AFileThatCannotServeGivesTheFallbacks) {
    dktest::TempDir dir;
    dktest::writeFile(dir.file("array.plist"),
                      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>");
    dktest::writeFile(dir.file("broken.plist"), "<plist><dict><key>a</key>");
    for (const char* name : {"array.plist", "broken.plist", "missing.plist"}) {
        setenv("DROVIK_SERVERS", dir.file(name).c_str(), 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(serverBase("metrics", "https://metrics.example"), "https://metrics.example") << name;
        EXPECT_EQ(serverBase("other", "https://other.example"), "https://other.example") << name;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(err.starts_with("DROVIK_SERVERS: ") && err.find(name) != std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "reported once: " << err;
    }
    unsetenv("DROVIK_SERVERS");
}

TEST(Servers, KnownNamesHaveDefaultsAndARunMayOverrideOne) {
    unsetenv("DROVIK_SERVERS");
    EXPECT_EQ(serverBase("trackwell.collector.1"), "http://collector1.trackwell.invalid:8888");
    EXPECT_EQ(serverBase("unknown.name"), "");
    plat::net::setServerBaseOverride("trackwell.collector.1", "http://127.0.0.1:9");
    EXPECT_EQ(serverBase("trackwell.collector.1"), "http://127.0.0.1:9");
    EXPECT_EQ(serverBase("trackwell.collector.1", "http://fallback"), "http://127.0.0.1:9");
    plat::net::setServerBaseOverride("trackwell.collector.1", "");
    EXPECT_EQ(serverBase("trackwell.collector.1"), "http://collector1.trackwell.invalid:8888");
    // A path goes after the base with one slash, however the base was written.
    plat::net::setServerBaseOverride("api", "http://127.0.0.1:9/");
    EXPECT_EQ(plat::net::serverURL("api", "https://api.example", "/v1"), "http://127.0.0.1:9/v1");
    plat::net::setServerBaseOverride("api", "");
    EXPECT_EQ(plat::net::serverURL("api", "https://api.example", "/v1"), "https://api.example/v1");
}

TEST(Servers, AddressesOfBases) {
    struct Case {
        const char* base;
        const char* origin;  // null: refused
    };
    const Case cases[] = {
        {"http://collector.pagestats.invalid", "http://collector.pagestats.invalid:80"},
        {"HTTP://h:8888/some/path?q", "http://h:8888"},
        {"https://user:pw@h.example:443", "https://h.example:443"},
        {"http://[::1]:9000/", "http://[::1]:9000"},
        {"http://[::1]", "http://[::1]:80"},
        {"ftp://h", nullptr},
        {"http://:80", nullptr},
        {"http://h:0", nullptr},
        {"http://h:65536", nullptr},
        {"http://h:8x", nullptr},
        {"h:80", nullptr},
    };
    for (const Case& c : cases) {
        plat::net::ServerAddress address;
        bool parsed = plat::net::parseServerAddress(c.base, 80, address);
        EXPECT_EQ(parsed, c.origin != nullptr) << c.base;
        if (parsed && c.origin) {
            EXPECT_EQ(address.origin(), c.origin) << c.base;
        }
    }
}

TEST(Servers, PlaceholderHostsAreTheNamesUnderInvalid) {
    const struct {
        const char* url;
        bool placeholder;
    } cases[] = {
        {"http://orbad-data.invalid/post", true}, {"https://INVALID./x", true}, {"http://a.b.Invalid:81", true},
        {"http://invalid.example.com/", false},  {"http://notinvalid/", false}, {"ftp://x.invalid/", false},
        {"x.invalid", false},
    };
    for (const auto& c : cases) EXPECT_EQ(plat::net::isPlaceholderURL(c.url), c.placeholder) << c.url;
}

}  // namespace
