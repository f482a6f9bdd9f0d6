// The feed plugin against a local HTTP server: the feed's request, what the cache holds after good
// and bad answers, icons fetched and cached (or not), and referrals followed to the store's host.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/ImageCodec.h"
#include "platform/ui/Button.h"
#include "platform/net/tests/NetTestSupport.h"
#include "player/plugins/DKDrovikNetworkSupport.h"
#include "player/tests/PromoTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace dktest;
using plat::foundation::Value;

// A 2 x 2 PNG's bytes.
std::string pngBytes(TempDir& dir) {
    EXPECT_TRUE(plat::image::writePNG(dir.file("made.png"), 2, 2, std::vector<uint8_t>(16, 90), nullptr));
    return readFile(dir.file("made.png"));
}

class DrovikNetworkFeed : public StripTest {
protected:
    void SetUp() override {
        launch("phone");
        png = pngBytes(dir);
        server = std::make_unique<TestServer>([this](const ReceivedRequest& r) { return answer(r); });
        base = server->url("/");
        base.pop_back();
        host = base.substr(7);
        // The store is "localhost": the loopback address by another name.
        writeFile(dir.file("servers.plist"),
                  "<plist version=\"1.0\"><dict><key>promo.store</key><string>http://localhost</string></dict></plist>");
        setenv("DROVIK_SERVERS", dir.file("servers.plist").c_str(), 1);
    }
    void TearDown() override {
        plugin.reset();
        runFor(0);
        server.reset();
        unsetenv("DROVIK_SERVERS");
        StripTest::TearDown();
    }

    Reply answer(const ReceivedRequest& r) {
        if (r.target == "/v1/more_games.json") return feedReply;
        if (r.target == "/icons/a.png") return {200, {{"Content-Type", "image/png"}}, png};
        // Names that would address a folder of the cache, or one outside it.
        if (r.target == "/icons/a%2Fb.png" || r.target == "/icons/%2E%2E") return {200, {}, png};
        if (r.target == "/icons/held.png") return {200, {}, png, true};
        if (r.target == "/icons/bad.png") return {200, {}, "not a picture"};
        if (r.target.starts_with("/icons/long")) return {200, {}, png};
        if (r.target == "/ref") return {302, {{"Location", "http://localhost:" + port() + "/hop"}}, ""};
        if (r.target == "/hop") return {302, {{"Location", base + "/beyond"}}, ""};
        if (r.target == "/plain") return {302, {{"Location", base + "/end"}}, ""};
        if (r.target == "/tofile") return {302, {{"Location", "file:///etc/hostname"}}, ""};
        if (r.target.starts_with("/loop/"))
            return {302, {{"Location", base + "/loop/" + std::to_string(std::stoi(r.target.substr(6)) + 1)}}, ""};
        return {200, {}, "end"};
    }
    std::string port() const { return host.substr(host.find(':') + 1); }

    // The game's bundle (with the default icon unless told) and container; then the plugin, whose
    // feed request has ended.
    void start(const std::string& entries = "", bool defaultIcon = true) {
        const std::string app = dir.file("Game.app");
        fs::create_directories(app);
        writeFile(app + "/Info.plist", "<plist version=\"1.0\"><dict><key>DKAdServerDomain</key><string>" + host +
                                           "</string><key>StartupProvider</key><string>drovikNetwork</string>" +
                                           entries + "</dict></plist>");
        if (defaultIcon) writeFile(app + "/tamble_logo.png", png);
        plat::foundation::Bundle::setMain(*plat::foundation::Bundle::open(app));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.promo", dir.file("home")));
        plugin = DKPluginSupport::create<DKDrovikNetworkSupport>(nullptr, nullptr);
        ASSERT_TRUE(runUntil(plat::foundation::RunLoop::main(), [&] { return !plugin->isLoadingFeed(); }));
    }
    std::string cacheFile(const std::string& name) {
        return dir.file("home") + "/Library/Caches/DrovikNetworkCache/" + name;
    }
    std::vector<std::string> targets() {
        std::vector<std::string> out;
        for (const ReceivedRequest& r : server->requests()) out.push_back(r.target);
        return out;
    }
    // Taps the strip's icon `slot` (a feed of `ads` made the strip).
    void tap(unsigned slot) {
        ASSERT_TRUE(plugin->moreGamesVC());
        plugin->moreGamesVC()->iconButton(slot)->sendActions();
    }
    static Reply feed(const std::string& ads) {
        return {200, {{"Content-Type", "application/json"}}, R"({"throttle_pct":"100","ads":[)" + ads + "]}"};
    }
    std::string ad(const std::string& name, const std::string& target, const std::string& icon = "") {
        std::string text = R"({"name":")" + name + R"(","iphone_url":")" + target + "\"";
        if (!icon.empty()) text += R"(,"icon_url":")" + icon + "\"";
        return text + "}";
    }

    TempDir dir;
    std::string png, base, host;
    std::unique_ptr<TestServer> server;
    Reply feedReply = feed("");
    std::shared_ptr<DKDrovikNetworkSupport> plugin;
};

TEST_F(DrovikNetworkFeed, TheRequestAndTheCacheItLeaves) {
    feedReply = feed(ad("A", base + "/ref", base + "/icons/a.png") + "," + ad("B", base + "/b", base + "/icons/bad.png") +
                     "," + ad("C", base + "/c", base + "/icons/") + "," + ad("D", base + "/d", base + "/icons/%2E%2E") +
                     "," + ad("E", base + "/e", "file://" + dir.file("made.png")) + "," + ad("F", base + "/f") + "," +
                     ad("G", base + "/g", base + "/icons/a%2Fb.png"));
    start();
    const ReceivedRequest request = server->requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/v1/more_games.json");
    ASSERT_TRUE(request.header("Content-Type"));
    EXPECT_EQ(*request.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_FALSE(request.header("Cookie"));

    // The cache's folder is made with its parents; the feed is a property list of texts.
    const auto cached = plat::foundation::readPropertyList(cacheFile("ads.json"));
    ASSERT_TRUE(cached && plugin->adData());
    EXPECT_EQ(cached->canonicalJSON(), plugin->adData()->canonicalJSON());
    EXPECT_EQ(*cached->find("throttle_pct")->string(), "100");
    EXPECT_EQ(readFile(cacheFile("ads.json")).rfind("<?xml", 0), 0u);

    plugin->showMoreGamesOnStartup();
    ASSERT_TRUE(runUntil(plat::foundation::RunLoop::main(), [&] {
        for (const auto& item : plugin->moreGamesVC()->items())
            if (!item->image) return false;
        return true;
    }));
    // Icons are cached under their names as received; the undecodable one and names that would
    // address a folder are shown but not cached; the file URL is never fetched.
    EXPECT_EQ(readFile(cacheFile("a.png")), png);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(cacheFile(""))) files.push_back(entry.path().filename());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"a.png", "ads.json"}));
    std::vector<std::string> fetched = targets();
    std::sort(fetched.begin(), fetched.end());
    EXPECT_EQ(fetched, (std::vector<std::string>{"/icons/", "/icons/%2E%2E", "/icons/a%2Fb.png", "/icons/a.png",
                                                 "/icons/bad.png", "/v1/more_games.json"}));
    std::vector<std::string> shown;
    for (const auto& item : plugin->moreGamesVC()->items()) shown.push_back(item->image->fileName());
    EXPECT_EQ(shown, (std::vector<std::string>{"a.png", "tamble_logo.png", "tamble_logo.png", "%2E%2E",
                                               "tamble_logo.png", "tamble_logo.png", "a%2Fb.png"}));

    // The next strip takes the cached icon without fetching it.
    plugin->moreGamesVC()->dismissWithReason(0);
    plugin->showMoreGamesOnStartup();
    EXPECT_EQ(plugin->moreGamesVC()->items()[0]->image->path(), cacheFile("a.png"));
}

// A name longer than the file system takes: looking for it in the cache must not throw.
TEST_F(DrovikNetworkFeed, AnIconNameTooLongForTheFileSystemIsShownNotCached) {
    const std::string name = "long" + std::string(300, 'x') + ".png";
    feedReply = feed(ad("Long", base + "/l", base + "/icons/" + name));
    start();
    plugin->showMoreGamesOnStartup();
    ASSERT_TRUE(plugin->moreGamesVC());
    ASSERT_TRUE(runUntil(plat::foundation::RunLoop::main(), [&] { return plugin->moreGamesVC()->items()[0]->image != nullptr; }));
    EXPECT_EQ(plugin->moreGamesVC()->items()[0]->image->fileName(), name);
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(cacheFile(""))) files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"ads.json"});
}

TEST_F(DrovikNetworkFeed, AMalformedFeedOrAnErrorPageLeavesTheCacheAlone) {
    feedReply = feed(ad("A", base + "/a"));
    start();
    const std::string good = readFile(cacheFile("ads.json"));
    const Reply bad[] = {
        {200, {}, R"({"ads":["x"]})"},
        {200, {}, R"({"ads":[{"name":"cut")"},
        {500, {}, R"({"ads":[{"name":"error page"}]})"},
        {404, {}, "{}"},
    };
    for (const Reply& reply : bad) {
        SCOPED_TRACE(reply.body);
        feedReply = reply;
        plugin->updateAdsFromServer();
        ASSERT_TRUE(runUntil(plat::foundation::RunLoop::main(), [&] { return !plugin->isLoadingFeed(); }));
        EXPECT_EQ(readFile(cacheFile("ads.json")), good);
    }
}

TEST_F(DrovikNetworkFeed, ReferralsStopAtTheStoreHost) {
    feedReply = feed(ad("Store", base + "/ref") + "," + ad("Plain", base + "/plain") + "," +
                     ad("Direct", base + "/direct") + "," + ad("Long", base + "/loop/1") + "," +
                     ad("File", base + "/tofile") + "," + ad("Local", "file:///etc/hostname"));
    start();
    plugin->showMoreGamesOnStartup();
    const struct {
        unsigned slot;
        std::vector<std::string> fetched;
        std::vector<std::string> opened;
    } cases[] = {
        // 127.0.0.1 redirects to localhost, which is the store's host: its URL opens, and the
        // hop it points to is never asked for.
        {0, {"/ref", "/hop"}, {"http://localhost:" + port() + "/hop"}},
        // No store on the way: the last URL that redirected.
        {1, {"/plain", "/end"}, {base + "/plain"}},
        // No redirect: nothing.
        {2, {"/direct"}, {}},
        // Twenty hops at most.
        {3, {}, {base + "/loop/20"}},
        // A redirect away from the web ends there.
        {4, {"/tofile"}, {base + "/tofile"}},
        // Not openable: no referral.
        {5, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slot);
        const size_t requestsBefore = server->requests().size();
        const size_t openedBefore = app->openedURLs().size();
        tap(c.slot);
        const size_t asked = c.slot == 3 ? 20 : c.fetched.size();
        ASSERT_TRUE(runUntil(plat::foundation::RunLoop::main(), [&] {
            return app->openedURLs().size() >= openedBefore + c.opened.size() &&
                   server->requests().size() >= requestsBefore + asked;
        }));
        ASSERT_TRUE(server->waitForReplies(server->requests().size()));
        runFor(0.5);
        std::vector<std::string> fetched = targets();
        fetched.erase(fetched.begin(), fetched.begin() + static_cast<long>(requestsBefore));
        if (c.slot == 3) {
            EXPECT_EQ(fetched.size(), 20u);
            EXPECT_EQ(fetched.back(), "/loop/20");
        } else {
            EXPECT_EQ(fetched, c.fetched);
        }
        const std::vector<std::string> opened(app->openedURLs().begin() + static_cast<long>(openedBefore),
                                              app->openedURLs().end());
        EXPECT_EQ(opened, c.opened);
    }
}

TEST_F(DrovikNetworkFeed, AnIconThatArrivesAfterTheStripAndThePluginHaveGone) {
    feedReply = feed(ad("Held", base + "/held", base + "/icons/held.png"));
    start();
    plugin->showMoreGamesOnStartup();
    ASSERT_TRUE(server->waitForRequests(2));
    plugin->moreGamesVC()->dismissWithReason(1);
    plugin.reset();
    runFor(0);
    server->release();
    ASSERT_TRUE(server->waitForReplies(2));
    // The block ends on the worker and hands its icon to no one.
    ASSERT_TRUE(runUntil(plat::foundation::RunLoop::main(), [&] { return fs::exists(cacheFile("held.png")); }));
    runFor(0.5);
}

}  // namespace
