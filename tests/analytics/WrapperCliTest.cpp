// dk-analytics-cli's `analytics` commands: the player's page-view wrapper over the shared tracker.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "tests/analytics/MetricsCliSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kIds = "<key>DKUserID</key><string>u1</string><key>DKAppID</key><string>a1</string>";
const std::string kRelease = "<key>DKReleaseID</key><string>r1</string>";

// A game bundle with `entries` in its Info.plist (and `profile` as its profile when given), and a
// facts file naming the machine.
struct Game {
    dktest::TempDir dir;
    std::string app = dir.file("Game.app");
    Game(const std::string& entries, const std::string& machine, const std::optional<std::string>& profile = {}) {
        std::filesystem::create_directories(app);
        dktest::writeFile(app + "/Info.plist", dktest::infoPlist(entries));
        if (profile) dktest::writeFile(app + "/embedded.mobileprovision", *profile);
        dktest::writeFile(dir.file("facts.plist"), dktest::factsPlist({{"machine", machine}}));
    }
    dktest::ProcessResult run(const std::string& commands, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> more = {"--bundle", app, "--device-facts", dir.file("facts.plist")};
        more.insert(more.end(), extra.begin(), extra.end());
        return dktest::runProcess(dktest::metricsCli(dir.file("home"), more, commands));
    }
    std::vector<std::string> storedPaths() {
        std::vector<std::string> paths;
        for (const std::string& hit :
             dktest::rows(dir.file("home") + "/Documents/pagestats.sql", "SELECT hit_string FROM hits ORDER BY hit_id")) {
            const std::size_t at = hit.find("utmp=");
            if (at != std::string::npos) paths.push_back(hit.substr(at + 5, hit.find('&', at) - at - 5));
        }
        return paths;
    }
};

}  // namespace

// The model rides on each process's first page view only (session scope, on purpose).
TEST(WrapperCli, PageViewsReachTheCollectorWithTheModelOnTheFirst) {
    Game game(kIds + kRelease, "iPhone4,1");
    dktest::RecordingServer server(game.dir.file("server"), R"({"default": {"body": "x"}})");
    dktest::ProcessResult r = game.run("analytics page appLaunch\nanalytics page playGame\nps dispatch\nsettle\n",
                                       {"--endpoint", "pagestats.collector=" + server.url()});
    EXPECT_EQ(r.out, "ok\nok\nyes\nidle\n") << r.err;
    server.stop();
    const std::vector<std::string> requests = server.requestLines();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("utmp=%2Fappstore%2Fu1%2Fa1%2Fr1%2FappLaunch&"), std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("utmac=UA-48302917-3&"), std::string::npos);
    EXPECT_NE(requests[0].find("utme=8(1!Model)9(1!iPhone_4S)11(1!2)&"), std::string::npos);
    EXPECT_NE(requests[1].find("utmp=%2Fappstore%2Fu1%2Fa1%2Fr1%2FplayGame&"), std::string::npos);
    EXPECT_EQ(requests[1].find("utme="), std::string::npos);
}

TEST(WrapperCli, InfoAndPathOfEachBundle) {
    const struct {
        const char* what;
        std::string entries, machine;
        std::optional<std::string> profile;
        const char* info;
        const char* path;
    } cases[] = {
        {"unknown machine", kIds + kRelease, "iPhone9,9", std::nullopt,
         R"({"DKAppID":"a1","DKReleaseID":"r1","DKUserID":"u1","Model":"iPhone9,9","profileType":"appstore"})",
         "%2Fappstore%2Fu1%2Fa1%2Fr1%2FappLaunch"},
        {"no release, damaged profile", kIds, "x86_64", std::string("\x30\x82<?xml version=\"1.0\"?><plist>"),
         R"({"DKAppID":"a1","DKUserID":"u1","Model":"Simulator","profileType":"development"})",
         "%2Fdevelopment%2Fu1%2Fa1%2F(null)%2FappLaunch"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Game game(c.entries, c.machine, c.profile);
        dktest::ProcessResult r = game.run("analytics info\nanalytics page appLaunch\n");
        EXPECT_EQ(r.out, std::string(c.info) + "\nok\n") << r.err;
        EXPECT_EQ(game.storedPaths(), std::vector<std::string>{c.path});
    }
}

// The counter lives in the user defaults, so it carries on in the next process.
TEST(WrapperCli, PurchaseCountersCarryOnAcrossProcesses) {
    Game game(kIds + kRelease, "iPhone4,1");
    EXPECT_EQ(game.run("analytics purchase p1 n1 0.99\nanalytics purchase p2 n2 1.99\n").out, "ok\nok\n");
    EXPECT_EQ(game.run("analytics purchase p3 n3 2.99\nanalytics stop\nanalytics bad\n").out,
              "ok\nok\nerror usage: analytics info|page EVENT|event CAT ACTION LABEL|- VALUE|purchase A B C|stop\n");
    const std::string prefix = "%2Fappstore%2Fu1%2Fa1%2Fr1%2FinAppPurchase-";
    EXPECT_EQ(game.storedPaths(), (std::vector<std::string>{prefix + "1%2Fp1%2Fn1%2F0.99", prefix + "2%2Fp2%2Fn2%2F1.99",
                                                            prefix + "3%2Fp3%2Fn3%2F2.99"}));
}

// A tracker error reaches standard error only; the caller hears "ok" and the next call goes on.
TEST(WrapperCli, TrackerErrorsAreLoggedAndDropped) {
    Game game(kIds + kRelease, "iPhone4,1");
    dktest::ProcessResult r = game.run("analytics info\nps page-many 500 p\nanalytics page x\nanalytics event c a - 1\n");
    EXPECT_TRUE(r.out.ends_with("ok /p-500\nok\nok\n")) << r.out;
    const std::string why = "The operation couldn't be completed. (com.drovik.pagestats.tracker error 3134550094.)\n";
    EXPECT_EQ(r.err, "DKAnalytics trackPageView: " + why + "DKAnalytics trackEvent: " + why);
}
