// Signed requests against the content-API peer (tests/servers/kiosk_api_server.py): what is sent,
// how the envelope is read, and that every outcome leaves the registry.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSJsonParser.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/net/tests/NetTestSupport.h"
#include "platform/sys/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/StatusBar.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;

constexpr const char* kSecret = "s3cr3t";

// A request of the test's own endpoint, with parameters of its own.
class TestRequest : public KSAPIRequest {
public:
    using KSAPIRequest::KSAPIRequest;
    const char* className() const override { return "TestRequest"; }
    KSJsonObject extra;
    std::string base;

protected:
    std::string urlPath() const override { return base + "/v3/test/"; }
    KSJsonObject additionalParameters() const override { return extra; }
};

// What the delegate heard, one line each; what it does in its calls is the test's.
struct Recorder : KSAPIRequestDelegate {
    std::vector<std::string> heard;
    std::function<void(KSAPIRequest&)> onCall;
    unsigned bits = kRespondsAll;
    unsigned responds() const override { return bits; }
    void requestDidSucceedWithResponse(KSAPIRequest& r, const KSJsonValue* response) override {
        heard.push_back("succeed " + kiosk::agnosticText(response));
        if (onCall) onCall(r);
    }
    void requestDidFailWithError(KSAPIRequest& r, const plat::foundation::Error& error) override {
        heard.push_back("fail " + error.domain + " " + std::to_string(error.code));
        if (onCall) onCall(r);
    }
    void requestDidFinishLoading(KSAPIRequest& r) override {
        heard.push_back("loaded");
        if (onCall) onCall(r);
    }
};

class KSAPIRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.kiosk-test", home.path()));
        plat::net::setNetOverride(plat::net::NetOverride::WiFi);
        plat::foundation::Pasteboard::setDirectory(home.file("pasteboards"));
        plat::net::setServerBaseOverride("kiosk.api", "http://127.0.0.1:9");
        plat::net::setServerBaseOverride("kiosk.media", "http://127.0.0.1:9");
        kiosk::setLogHook([this](std::string_view line) { log.emplace_back(line); });
        plat::sys::Device::current().reset();
    }
    void TearDown() override {
        // A request left registered (one never sent) would outlive its delegate and hold up the
        // settling of every later test in the process.
        KSAPIRequest::cancelAllRequestsWithDelegate(&delegate);
        kiosk::setLogHook(nullptr);
    }

    void serve(const std::string& script) {
        server = std::make_unique<dktest::RecordingServer>(home.file("server"), script, 120, DK_KIOSK_API_SERVER);
        ASSERT_TRUE(server->running());
    }
    std::shared_ptr<TestRequest> make(std::vector<std::pair<std::string, std::string>> extra = {}) {
        auto request = KSAPIRequest::requestForApp<TestRequest>("tok123", kSecret);
        request->base = server ? server->url() : dktest::refusedURL();
        for (auto& [key, value] : extra) request->extra.set(key, value);
        request->setDelegate(&delegate);
        return request;
    }
    // Turns the main loop until no request is left.
    bool settle() {
        return dktest::runUntil(RunLoop::main(), [] { return KSAPIRequest::allRequests().empty(); });
    }
    // The server's reading of each request: {"params": ..., "signature": ...}.
    std::vector<KSJsonObject> checks() {
        server->stop();
        std::vector<KSJsonObject> out;
        std::istringstream in(dktest::readFile(home.file("server/checks.jsonl")));
        for (std::string line; std::getline(in, line);) out.push_back(*KSJsonParser().objectWithString(line)->object());
        return out;
    }
    static std::string param(const KSJsonObject& check, const char* key) {
        const KSJsonValue* value = check.find("params")->object()->find(key);
        return value ? *value->string() : "(absent)";
    }

    dktest::TempDir home;
    std::unique_ptr<dktest::RecordingServer> server;
    Recorder delegate;
    std::vector<std::string> log;
};

std::string script(const std::string& answer) {
    return std::string(R"({"secret": "s3cr3t", "default": )") + answer + "}";
}

TEST(KSAPIRequestSignature, KnownAnswers) {
    const char* gid = "gidGIDgidGIDgidGIDgidGIDgid";
    const char* nonce = "NONCEnonceNONCEnonceNONCEn";
    EXPECT_EQ(KSAPIRequest::signature("tok123", "", gid, nonce, kSecret), "X_TkZfHbEUFUvARlrP7HGXWUinI");
    EXPECT_EQ(KSAPIRequest::signature("tok123", "S1", gid, nonce, kSecret), "8XXmtiHFwvAh6-VfHIRJSZSVB1Q");
}

// The host was the address less its first 7 characters: wrong with https or a port.
TEST(KSAPIRequestDNS, HostOfTheAddress) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://api.kiosk.invalid", "api.kiosk.invalid"},
        {"https://api.kiosk.invalid", "api.kiosk.invalid"},
        {"http://127.0.0.1:8080/v3", "127.0.0.1"},
        {"http://[::1]:80", "::1"},
    };
    for (const auto& [address, host] : cases) EXPECT_EQ(kiosk::dnsHostForURLPath(address), host) << address;
}

// The lookups run on the worker pool, one at a time, and log what they found in order.
TEST(KSAPIRequestDNS, LookupsLogWhatTheyFound) {
    std::mutex lock;
    std::vector<std::string> lines;
    kiosk::setLogHook([&](std::string_view line) {
        std::lock_guard hold(lock);
        lines.emplace_back(line);
    });
    kiosk::checkDNSResolutionForURLPath("http://127.0.0.1:8080/v3");
    kiosk::checkDNSResolutionForURLPath("not an address");
    kiosk::checkDNSResolutionForURLPath("http://127.0.0.2");
    EXPECT_TRUE(dktest::runUntil(RunLoop::main(), [&] {
        std::lock_guard hold(lock);
        return lines.size() >= 2;
    }));
    kiosk::setLogHook(nullptr);
    std::lock_guard hold(lock);
    EXPECT_EQ(lines, (std::vector<std::string>{"Resolved 127.0.0.1 -> 127.0.0.1", "Resolved 127.0.0.2 -> 127.0.0.2"}));
}

TEST(KSAPIRequestImages, EmbeddedRecords) {
    // 2 x 1: opaque red, then half-transparent green (premultiplied).
    std::vector<std::uint8_t> record = {2, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 255, 0, 0, 255, 0, 128, 0, 128};
    auto image = convertByteDataToUIImage(record.data(), record.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelWidth(), 2);
    EXPECT_EQ(image->pixelHeight(), 1);
    EXPECT_EQ(image->scale(), 1.0);
    record[8] = 9;  // a byte count that does not match the size
    EXPECT_EQ(convertByteDataToUIImage(record.data(), record.size()), nullptr);
    EXPECT_EQ(convertByteDataToUIImage(record.data(), 15), nullptr);
}

TEST_F(KSAPIRequestTest, ParametersTheirFormsAndTheSignature) {
    serve(script(R"({"body": "{\"response\": {}}"})"));
    auto portrait = make({{"token", "mine"}, {"extra", "kept"}});
    portrait->send();
    ASSERT_TRUE(settle());
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeLeft);
    make()->send();
    ASSERT_TRUE(settle());

    std::vector<KSJsonObject> seen = checks();
    ASSERT_EQ(seen.size(), 2u);
    for (const KSJsonObject& check : seen) EXPECT_EQ(*check.find("signature")->string(), "ok");
    const KSJsonObject& first = seen[0];
    EXPECT_EQ(param(first, "token"), "tok123");  // the base set wins over the subclass's
    EXPECT_EQ(param(first, "extra"), "kept");
    EXPECT_EQ(param(first, "width"), "320");
    EXPECT_EQ(param(first, "height"), "480");
    EXPECT_EQ(param(first, "scale"), "2");
    EXPECT_EQ(param(first, "connection"), "2");
    EXPECT_EQ(param(first, "idiom"), "0");
    EXPECT_EQ(param(first, "sdk-ios"), "1.12.1");
    EXPECT_EQ(param(first, "app_version"), "NA");
    EXPECT_EQ(param(first, "tracking"), "1");
    EXPECT_EQ(param(first, "session"), "");
    EXPECT_EQ(param(first, "gid").size(), 27u);
    EXPECT_EQ(param(seen[1], "gid"), param(first, "gid"));
    EXPECT_NE(param(seen[1], "nonce"), param(first, "nonce"));
    EXPECT_EQ(param(seen[1], "width"), "480");
    EXPECT_EQ(param(seen[1], "height"), "320");
}

// The game id is the installation's: a second start in the process on another home reads (or
// makes) the id of that home, and back on the first home the first id is found again.
TEST_F(KSAPIRequestTest, EachHomeHasItsOwnGameId) {
    const std::string first = KSGID();
    EXPECT_EQ(first.size(), 27u);
    EXPECT_EQ(KSGID(), first);

    dktest::TempDir other;
    plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.kiosk-test", other.path()));
    plat::foundation::UserDefaults::standard()->setObject(plat::foundation::Value(std::string("theOtherHomesGameId")),
                                                          "KioskGID");
    EXPECT_EQ(KSGID(), "theOtherHomesGameId");

    dktest::TempDir fresh;
    plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.kiosk-test", fresh.path()));
    const std::string made = KSGID();
    EXPECT_EQ(made.size(), 27u);
    EXPECT_NE(made, first);
    EXPECT_EQ(plat::foundation::UserDefaults::standard()->stringForKey("KioskGID"), made);

    plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.kiosk-test", home.path()));
    EXPECT_EQ(KSGID(), first);
}

TEST_F(KSAPIRequestTest, ShownStatusBarAndScaleOfAPresetAndNoAdvertisingIdentifier) {
    serve(script(R"({"body": "{}"})"));
    plat::ui::setStatusBarHidden(false);
    plat::sys::Device::current().setPreset("tablet");
    dktest::writeFile(home.file("facts.plist"),
                      R"(<plist version="1.0"><dict><key>advertisingIdentifier</key><string></string>)"
                      R"(<key>languages</key><array/></dict></plist>)");
    setenv("DROVIK_DEVICE_FACTS", home.file("facts.plist").c_str(), 1);
    make()->send();
    ASSERT_TRUE(settle());
    unsetenv("DROVIK_DEVICE_FACTS");
    plat::ui::setStatusBarHidden(true);
    KSJsonObject check = checks().at(0);
    EXPECT_EQ(param(check, "width"), "768");
    EXPECT_EQ(param(check, "height"), "1004");
    EXPECT_EQ(param(check, "scale"), "1");
    EXPECT_EQ(param(check, "idiom"), "1");
    EXPECT_EQ(param(check, "d_ifa"), "(absent)");
    EXPECT_EQ(param(check, "tracking"), "(absent)");
    EXPECT_EQ(param(check, "languages"), "(absent)");
}

// "&", "=", "+" and ";" in a value used to pass unescaped: the server read extra parameters and
// a "+" as a blank, and the signature then failed.
TEST_F(KSAPIRequestTest, QueryValuesKeepTheirSeparators) {
    serve(script(R"({"body": "{}"})"));
    make({{"placement", "a&b=c+d;e f/é"}})->send();
    ASSERT_TRUE(settle());
    KSJsonObject check = checks().at(0);
    EXPECT_EQ(param(check, "placement"), "a&b=c+d;e f/é");
    EXPECT_EQ(param(check, "b"), "(absent)");
    EXPECT_EQ(*check.find("signature")->string(), "ok");
}

TEST_F(KSAPIRequestTest, EnvelopesAndStatuses) {
    struct Case {
        const char* answer;
        const char* heard;
    } cases[] = {
        {R"({"body": "{\"error\": null, \"response\": {\"a\": 1}}"})", R"(loaded|succeed {"a":1})"},
        {R"({"body": "{\"error\": \"bad token\"}"})", "loaded|fail KioskSDK 0"},
        {R"({"status": "HTTP/1.1 500 Oops", "body": "{\"error\": {\"x\": 1}}"})", "loaded|fail KioskSDK 0"},
        // A server error fails whatever its body: an error page, or an envelope that parses.
        {R"({"status": "HTTP/1.1 500 Oops", "body": "<html>down</html>"})", "loaded|fail KioskSDK 0"},
        {R"({"status": "HTTP/1.1 503 Busy", "body": "{\"response\": {\"a\": 1}}"})", "loaded|fail KioskSDK 0"},
        {R"({"status": "HTTP/1.1 404 Not Found", "body": "{\"response\": {\"a\": 1}}"})", R"(loaded|succeed {"a":1})"},
        {R"({"body": "{\"response\": null}"})", "loaded|succeed (null)"},
        {R"({"body": "{\"other\": 1}"})", "loaded|succeed (null)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        server.reset();
        dktest::TempDir fresh;
        server = std::make_unique<dktest::RecordingServer>(fresh.file("s"), script(c.answer), 120, DK_KIOSK_API_SERVER);
        delegate.heard.clear();
        make()->send();
        ASSERT_TRUE(settle());
        std::string joined;
        for (const std::string& h : delegate.heard) joined += (joined.empty() ? "" : "|") + h;
        EXPECT_EQ(joined, c.heard);
    }
}

TEST_F(KSAPIRequestTest, RefusedConnectionFailsWithTheConnectionsError) {
    auto request = make();
    request->send();
    ASSERT_TRUE(settle());
    EXPECT_EQ(delegate.heard, std::vector<std::string>{"fail NSURLErrorDomain -1004"});
}

TEST_F(KSAPIRequestTest, SilentServerTimesOutAfterTenSecondsOfTheLoopsClock) {
    serve(script(R"({"silent": true})"));
    double start = Clock::process().now();
    make()->send();
    RunLoop::main().runFor(9.5);
    EXPECT_TRUE(delegate.heard.empty());
    RunLoop::main().runFor(1);
    EXPECT_TRUE(KSAPIRequest::allRequests().empty());
    EXPECT_EQ(delegate.heard, std::vector<std::string>{"fail NSURLErrorDomain -1001"});
    EXPECT_GE(Clock::process().now() - start, 10.0);
}

TEST_F(KSAPIRequestTest, SendOnceAndAnUnsentRequestStaysRegistered) {
    serve(script(R"({"body": "{}"})"));
    auto kept = make();
    auto sent = make();
    sent->send();
    sent->send();
    EXPECT_TRUE(dktest::runUntil(RunLoop::main(), [] { return KSAPIRequest::allRequests().size() == 1; }));
    EXPECT_EQ(KSAPIRequest::allRequests().front(), kept);
    EXPECT_EQ(checks().size(), 1u);
}

TEST_F(KSAPIRequestTest, CancellingFromInsideTheDelegate) {
    serve(script(R"({"body": "{\"response\": {}}"})"));
    Recorder other;
    for (unsigned bits : {unsigned(KSAPIRequestDelegate::kRespondsAll), unsigned(KSAPIRequestDelegate::kRespondsDidSucceed)}) {
        delegate.heard.clear();
        delegate.bits = bits;
        // The first call the delegate answers cancels everything it is the delegate of.
        delegate.onCall = [this](KSAPIRequest&) { KSAPIRequest::cancelAllRequestsWithDelegate(&delegate); };
        auto a = make();
        auto b = make();
        auto c = make();
        c->setDelegate(&other);
        a->send();
        b.reset();
        a.reset();
        c.reset();
        ASSERT_TRUE(dktest::runUntil(RunLoop::main(), [] { return KSAPIRequest::allRequests().size() == 1; }));
        EXPECT_EQ(delegate.heard.size(), 1u);
        KSAPIRequest::cancelAllRequestsWithDelegate(&other);
        EXPECT_TRUE(KSAPIRequest::allRequests().empty());
    }
    EXPECT_TRUE(KSAPIRequest::cancelRequestWithHashCode(0) == false);
}

}  // namespace
