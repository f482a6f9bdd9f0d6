// The session open and the time in game against the content-API peer, on the virtual clock.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kiosk/KSJsonParser.h"
#include "kiosk/KSPublisherOpenRequest.h"
#include "kiosk/KSTimeInGame.h"
#include "kiosk/cache/SDURLCache.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"
#include "platform/net/URLCache.h"
#include "platform/net/tests/NetTestSupport.h"
#include "platform/ui/Application.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;

class KSPublisherOpenRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.drovik.kiosk-test", home.path()));
        plat::net::setNetOverride(plat::net::NetOverride::WiFi);
        plat::foundation::Pasteboard::setDirectory(home.file("pasteboards"));
        kiosk::setWallClock([] { return 1.0e9 + Clock::process().now(); });
        kiosk::setLogHook([this](std::string_view line) { log.emplace_back(line); });
        dktest::writeFile(home.file("facts.plist"), R"(<plist version="1.0"><dict><key>macAddress</key>)"
                                                    R"(<string>00:1A:2b:3c:4d:5e</string></dict></plist>)");
        setenv("DROVIK_DEVICE_FACTS", home.file("facts.plist").c_str(), 1);
    }
    void TearDown() override {
        // A request made and never sent stays registered: a later test waiting for none would run
        // the virtual clock on for its whole real limit.
        for (const auto& request : KSAPIRequest::allRequests()) request->cancel();
        kiosk::setLogHook(nullptr);
        unsetenv("DROVIK_DEVICE_FACTS");
    }
    void serve(const std::string& paths) {
        server = std::make_unique<dktest::RecordingServer>(
            home.file("server"), R"({"secret": "sec", "paths": )" + paths + "}", 120, DK_KIOSK_API_SERVER);
        ASSERT_TRUE(server->running());
        plat::net::setServerBaseOverride("kiosk.api", server->url());
    }
    void open() {
        KSPublisherOpenRequest::requestForApp("tok", "sec")->send();
        ASSERT_TRUE(dktest::runUntil(RunLoop::main(), [] { return KSAPIRequest::allRequests().empty(); }));
    }
    void play(double seconds, bool background = true) {
        RunLoop::main().runFor(seconds);
        if (background)
            plat::foundation::NotificationCenter::defaultCenter().post(plat::ui::kApplicationDidEnterBackgroundNotification);
    }
    // Each open request the server read: "scount/ssum session signature".
    std::vector<std::string> opens() {
        server->stop();
        std::vector<std::string> out;
        std::istringstream in(dktest::readFile(home.file("server/checks.jsonl")));
        for (std::string line; std::getline(in, line);) {
            KSJsonValue check = *KSJsonParser().objectWithString(line);
            if (*check.object()->find("path")->string() != "/v3/publisher/open/") continue;
            const KSJsonObject& p = *check.object()->find("params")->object();
            out.push_back(*p.find("scount")->string() + "/" + *p.find("ssum")->string() + " " +
                          *p.find("session")->string() + " " + *check.object()->find("signature")->string());
        }
        return out;
    }

    dktest::TempDir home;
    std::unique_ptr<dktest::RecordingServer> server;
    std::vector<std::string> log;
};

const char* const kError = R"({"body": "{\"error\": \"no\"}"})";
const char* const kHtml = R"({"status": "HTTP/1.1 500 Oops", "body": "<html>down</html>"})";

TEST_F(KSPublisherOpenRequestTest, FailedOpensKeepCountingUntilOneSucceeds) {
    serve(std::string("{\"/v3/publisher/open/\": [") + kError + "," + kHtml + "," + kError +
          R"(, {"body": "{\"response\": {\"session\": \"S1\", \"precache\": [\"http://$HOST/pre\"]}}"}, {"body": "{}"}],)"
          R"( "/pre": {"headers": [["Cache-Control", "max-age=3600"]], "body": "cached"}})");
    open();        // first launch
    play(10);
    open();        // an error page: the server never read the counters
    play(20);
    open();
    play(30);
    open();  // success: session S1, counters reset to this session
    play(5, false);
    open();  // a second open while the session runs (resign and return without background)
    play(7, false);
    open();
    EXPECT_EQ(opens(), (std::vector<std::string>{"0/0  ok", "1/10  ok", "2/30  ok", "3/60  ok", "1/5 S1 ok",
                                                 "2/12 S1 ok"}));
    EXPECT_EQ(KSAPIRequest::session(), "S1");
    auto cache = std::dynamic_pointer_cast<SDURLCache>(plat::net::URLCache::shared());
    ASSERT_TRUE(cache);
    EXPECT_TRUE(cache->isCached(server->url() + "/pre"));
    EXPECT_EQ(plat::foundation::Pasteboard::named("com.drovik.kiosk.session", false)->string(), "S1");
}

// A server error is no session open, whatever its body says: the counters and the session stay.
TEST_F(KSPublisherOpenRequestTest, ServerErrorsWithAParsableBodyFail) {
    serve(R"({"/v3/publisher/open/": [{"body": "{\"response\": {\"session\": \"S0\"}}"},)"
          R"( {"status": "HTTP/1.1 503 Busy", "body": "{\"response\": {\"session\": \"S5\"}}"},)"
          R"( {"status": "HTTP/1.1 500 Oops", "body": "{\"error\": null, \"response\": {}}"},)"
          R"( {"body": "{}"}]})");
    open();
    play(10);
    open();
    play(20);
    open();
    play(5);
    open();
    EXPECT_EQ(opens(), (std::vector<std::string>{"0/0  ok", "1/10 S0 ok", "2/30 S0 ok", "3/35 S0 ok"}));
    EXPECT_EQ(KSAPIRequest::session(), "S0");
}

TEST_F(KSPublisherOpenRequestTest, DeviceIdentifiersAndTheOptOut) {
    serve(R"({"/v3/publisher/open/": {"body": "{}"}})");
    auto request = KSPublisherOpenRequest::requestForApp("tok", "sec");
    request->setCustomUDID("mine&more");
    const KSJsonObject& sent = request->signedParameters();
    EXPECT_EQ(*sent.find("d_mac")->string(), "001a2b3c4d5e");
    EXPECT_EQ(*sent.find("d_custom")->string(), "mine&more");
    EXPECT_EQ(sent.find("d_odid")->string()->size(), 40u);
    KSAPIRequest::setOptOutStatus(true);
    auto quiet = KSPublisherOpenRequest::requestForApp("tok", "sec");
    EXPECT_EQ(quiet->signedParameters().find("d_mac"), nullptr);
    EXPECT_NE(quiet->signedParameters().find("d_odid"), nullptr);
    EXPECT_EQ(quiet->signedParameters().find("d_custom"), nullptr);
}

TEST_F(KSPublisherOpenRequestTest, NoHardwareAddressIsLoggedAndLeftOut) {
    dktest::writeFile(home.file("facts.plist"), R"(<plist version="1.0"><dict><key>macAddress</key>)"
                                                R"(<string></string></dict></plist>)");
    EXPECT_EQ(getMACAddress(), std::nullopt);
    EXPECT_EQ(log, std::vector<std::string>{"[Kiosk-1.12.1] Error: if_nametoindex error\n"});
}

TEST_F(KSPublisherOpenRequestTest, StopWithoutSessionAndRestart) {
    KSTimeInGame& time = KSTimeInGame::getInstance();
    time.gameSessionStopped();
    EXPECT_EQ(time.getCountSessions(), 0);
    time.gameSessionStarted();
    play(4, false);
    plat::foundation::NotificationCenter::defaultCenter().post(plat::ui::kApplicationWillTerminateNotification);
    plat::foundation::NotificationCenter::defaultCenter().post(plat::ui::kApplicationDidEnterBackgroundNotification);
    EXPECT_EQ(time.getSumSessionDuration(), 4.0);
    EXPECT_EQ(time.getCountSessions(), 1);
    time.gameSessionRestart();
    EXPECT_EQ(time.getCountSessions(), 0);
    EXPECT_EQ(time.getSumSessionDuration(), 0.0);
}

}  // namespace
