// The content view's protocol on the real page engine (WPE, headless): templates served by the
// content-API peer, their calls made by the page's own navigations (main frame or iframe), the
// replies read back from what the page recorded.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kiosk/KSContentView.h"
#include "kiosk/KSJsonParser.h"
#include "kiosk/KSJsonWriter.h"
#include "kiosk/KSStringUtil.h"
#include "kiosk/KSURLLoader.h"
#include "kiosk/cache/SDURLCache.h"
#include "platform/foundation/Log.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLLoading.h"
#include "platform/sys/Device.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebProcesses.h"
#include "platform/web/tests/WebTestPages.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;

// Calls reach the page through either entry; each reply is kept as JSON in `got`.
const char* const kPageFunction =
    "<script>var got=[];function KioskAPICallback(c,r,e){"
    "got.push({c:c,r:r,e:e,v:window.KioskDispatchProtocolVersion});return 'OK';}</script>";
const char* const kNativeAPI =
    "<script>var got=[];var Kiosk={nativeAPI:{callback:function(c,r,e){"
    "got.push({c:c,r:r,e:e,v:window.KioskDispatchProtocolVersion});}}};</script>";

// A JSON string literal (which JavaScript reads alike).
std::string quoted(const std::string& text) {
    const std::string array = KSJsonWriter().stringWithObject(KSJsonValue(KSJsonArray{KSJsonValue(text)})).value();
    return array.substr(1, array.size() - 2);
}

std::string page(const std::string& head, const std::string& headers = "") {
    return R"({"headers": [["Content-Type", "text/html; charset=utf-8"])" + headers + R"(], "body": )" +
           quoted("<html><head>" + head + "</head><body>unit</body></html>") + "}";
}

// Fresh for an hour: the shared cache keeps it, on disk too.
const char* const kFreshForAnHour = R"(, ["Cache-Control", "max-age=3600"])";
// Never to be kept, though a tag would otherwise put it on disk.
const char* const kNoStore = R"(, ["Cache-Control", "no-store"])";
// A template whose script, when it runs, asks the server for "/ran".
const char* const kReportsItsRun = "<script>new Image().src = '/ran';</script>";
const char* const kNoStoreTagged = R"(, ["ETag", "\"v1\""], ["Cache-Control", "No-Store, max-age=3600"])";

// Each kind of busy page at "/busy-KIND.html" asking for "/beat-KIND", and "/later.html" beating
// at "/later-beat".
std::string busyPaths() {
    std::string paths;
    for (const char* kind : {"timer", "frames", "worker", "loops"})
        paths += std::string(R"(, "/busy-)") + kind + R"(.html": {"body": )" +
                 quoted(dktest::busyPage(kind, std::string("/beat-") + kind)) + "}";
    return paths + R"(, "/later.html": {"body": )" + quoted(dktest::busyPage("timer", "/later-beat")) + "}";
}

struct Watch : plat::ui::WebViewObserver, KSContentViewDelegate {
    Lines lines, scripts;
    void webViewEvaluates(plat::ui::WebView&, const std::string& script) override { scripts.push_back(script); }
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request, plat::ui::WebNavigationType,
                        bool allowed) override {
        lines.push_back(std::string(allowed ? "allow " : "refuse ") + request.url);
    }
    void contentViewDidShow(KSContentView&) override { lines.push_back("show"); }
    void contentViewDidLoad(KSContentView&) override { lines.push_back("load"); }
    void contentViewDidDismiss(KSContentView&) override { lines.push_back("dismiss"); }
    void contentViewDidFail(KSContentView&, const plat::foundation::Error& e) override {
        lines.push_back("fail " + std::to_string(e.code));
        failures.push_back(e.domain + " " + std::to_string(e.code));
    }
    Lines failures;
    bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

class KSContentViewEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.running());
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        plat::ui::WebView::setObserver(&watch);
        KSURLLoader::setSystemOpener([this](const std::string& url) {
            opened.push_back(url);
            return true;
        });
        target = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320, 480});
    }
    void TearDown() override {
        plat::ui::WebView::setObserver(nullptr);
        KSURLLoader::setSystemOpener(nullptr);
        view.reset();
        KSContentView::clearContentViews();
        plat::sys::Device::current().reset();
        plat::web::useWebEngine("none");
    }
    std::string url(const std::string& path) const { return server.url() + path; }
    // Shows the template at `path` in `frame` (JSON) and waits for its load or failure.
    void show(const std::string& path, const std::string& frame = R"("KS_FULLSCREEN")") {
        auto unit = KSJsonParser().objectWithString(R"({"url":")" + url(path) +
                                                    R"(","transition":"KS_DIALOG","frame":)" + frame + ","
                                                    R"("context":{"level":3,"name":"q\"b\\"}})");
        view = KSContentView::make(KSContent::contentWithDictionary(*unit->object()));
        view->setDelegate(&watch);
        view->setTargetView(target.get());
        view->show(false);
        ASSERT_TRUE(dktest::turnUntil([&] { return watch.has("load") || watch.has("fail 2") || watch.has("fail 3"); }))
            << path;
    }
    // The page navigates (its main frame, or a new iframe) to `address`; waits for the decision.
    void navigate(const std::string& address, bool iframe = false) {
        const std::string literal = quoted(address);
        view->webView().stringByEvaluatingJavaScript(
            iframe ? "var f=document.createElement('iframe');f.src=" + literal + ";document.body.appendChild(f);"
                   : "location.href=" + literal + ";");
        const std::string decided = address;
        ASSERT_TRUE(dktest::turnUntil([&] { return watch.has("allow " + decided) || watch.has("refuse " + decided); }))
            << address;
        dktest::turnUntil([] { return false; }, 0.2);  // what the decision set off
    }
    std::string got() { return view->webView().stringByEvaluatingJavaScript("JSON.stringify(got)"); }
    // The server's requests for `path`.
    std::size_t fetches(const std::string& path) const {
        std::size_t n = 0;
        for (const std::string& line : server.requestLines())
            n += line.find("GET " + path + " ") != std::string::npos;
        return n;
    }

    dktest::TempDir dir;
    dktest::RecordingServer server{dir.path(),
                                   R"({"paths": {"/function.html": )" + page(kPageFunction) +
                                       R"(, "/native.html": )" + page(kNativeAPI) + R"(, "/plain.html": )" +
                                       page("") + R"(, "/other.html": )" + page("<title>other</title>") +
                                       R"(, "/cached.html": )" + page("<title>cached</title>", kFreshForAnHour) +
                                       R"(, "/ahead.html": )" + page("<title>ahead</title>", kFreshForAnHour) +
                                       R"(, "/nostore.html": )" + page("<title>nostore</title>", kNoStore) +
                                       R"(, "/tagged.html": )" + page("<title>tagged</title>", kNoStoreTagged) +
                                       R"(, "/portrait.html": )" + page(kReportsItsRun) +
                                       R"(, "/portrait-ahead.html": )" + page(kReportsItsRun, kFreshForAnHour) +
                                       R"(, "/go": {"status": "HTTP/1.1 302 Found", "headers": [["Location", "/final"]]})"
                                       R"(, "/final": {"body": "landed"})"
                                       R"(, "/loop.html": {"body": )" + quoted(dktest::neverYieldingPage("while (true) {}")) +
                                       R"(}, "/hog.html": {"body": )" + quoted(dktest::memoryHoldingPage(16, "i < 96")) +
                                       R"(}, "/fill.html": {"body": )" + quoted(dktest::memoryHoldingPage(1, "i < 6000")) +
                                       R"(}, "/endless.html": {"body": )" + quoted(dktest::memoryHoldingPage(1, "true")) +
                                       R"(})" + busyPaths() +
                                       R"(}, "default": {"status": "HTTP/1.1 404 Not Found"}})",
                                   120, DK_KIOSK_API_SERVER};
    Watch watch;
    Lines opened;
    std::shared_ptr<plat::ui::View> target;
    std::shared_ptr<KSContentView> view;
};

const char* const kContextReply = R"({"c":"c1","r":{"level":3,"name":"q\"b\\"},"e":null,"v":5})";

// A unit whose page never yields is closed and its view kept for the next unit, as the content
// request's pool keeps it: the next unit loads in that view and its calls are answered.
TEST_F(KSContentViewEngineTest, AUnitThatNeverYieldsLeavesItsViewToTheNextUnit) {
    auto unit = [&](const std::string& path) {
        return KSContent::contentWithDictionary(
            *KSJsonParser()
                 .objectWithString(R"({"url":")" + url(path) + R"(","transition":"KS_DIALOG","frame":"KS_FULLSCREEN",)"
                                   R"("context":{"level":3,"name":"q\"b\\"}})")
                 ->object());
    };
    view = KSContentView::make(unit("/loop.html"));
    view->setDelegate(&watch);
    view->setTargetView(target.get());
    view->show(false);
    ASSERT_TRUE(dktest::turnUntil([&] { return fetches("/looping") == 1; }, 60));
    view->dismiss(false);
    EXPECT_TRUE(watch.has("dismiss"));
    watch.lines.clear();
    view->setContent(unit("/function.html"));
    view->setDelegate(&watch);
    view->setTargetView(target.get());
    view->show(false);
    ASSERT_TRUE(dktest::turnUntil([&] { return watch.has("load"); }, 60)) << ::testing::PrintToString(watch.lines);
    navigate("ks://loadContext?callback=c1");
    EXPECT_EQ(got(), std::string("[") + kContextReply + "]");
}

// The mended fault: a dismissed unit's page went on in its pooled view off screen (an emptied
// document keeps its timers, frames and workers), asking its server and using the processor until
// the view showed another unit. Nothing of it runs after the dismissal: while a later unit in
// another view beats twenty times, the server hears nothing of the first and the web processes
// stay all but idle.
TEST_F(KSContentViewEngineTest, NothingOfADismissedUnitRunsAfterwards) {
    std::vector<std::shared_ptr<KSContentView>> dismissed;  // kept, as the pool keeps them
    for (const std::string kind : {"timer", "frames", "worker", "loops"}) {
        SCOPED_TRACE(kind);
        watch.lines.clear();
        show("/busy-" + kind + ".html");
        ASSERT_TRUE(dktest::turnUntil([&] { return fetches("/beat-" + kind) >= 2; }, 60));
        dismissed.push_back(view);
        view->dismiss(false);
        watch.lines.clear();
        show("/later.html");
        const std::size_t from = server.requestLines().size(), beats = fetches("/later-beat");
        const double cpu = dktest::webProcessesCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(dktest::turnUntil([&] { return fetches("/later-beat") >= beats + 20; }, 60));
        const double spent = dktest::webProcessesCpuSeconds() - cpu;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        const Lines lines = server.requestLines();
        for (std::size_t i = from; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].find("GET /beat-"), std::string::npos) << lines[i];
        EXPECT_LT(spent, elapsed.count() / 2);
        view->dismiss(false);
        dismissed.push_back(view);
    }
}

// A unit whose page holds more memory than a web process may fails with its page's error, and the
// next unit loads. A page allocating in one synchronous loop (6,000 MB, or without end) holds off
// WebKit's own check, which runs between scripts: the engine's watch ends it, its peak said in
// the line that says so, before it is far past the limit.
TEST_F(KSContentViewEngineTest, AUnitPastTheMemoryLimitFailsAndTheNextLoads) {
    struct Case {
        const char* path;
        bool synchronous;
    };
    for (const Case c : {Case{"/hog.html", false}, Case{"/fill.html", true}, Case{"/endless.html", true}}) {
        SCOPED_TRACE(c.path);
        std::mutex mutex;
        std::vector<long> peaks;  // MB
        plat::foundation::setLineObserver([&](std::string_view line) {
            if (const std::size_t at = line.find("(its peak "); at != std::string_view::npos) {
                std::lock_guard lock(mutex);
                peaks.push_back(std::strtol(std::string(line.substr(at + 10)).c_str(), nullptr, 10));
            }
        });
        auto unit = KSJsonParser().objectWithString(R"({"url":")" + url(c.path) +
                                                    R"(","transition":"KS_DIALOG","frame":"KS_FULLSCREEN"})");
        view = KSContentView::make(KSContent::contentWithDictionary(*unit->object()));
        view->setDelegate(&watch);
        view->setTargetView(target.get());
        view->show(false);
        ASSERT_TRUE(dktest::turnUntil([&] { return !watch.failures.empty(); }, 60)) << ::testing::PrintToString(watch.lines);
        EXPECT_EQ(watch.failures, Lines{"plat.web 2"});
        EXPECT_FALSE(watch.has("dismiss"));
        if (c.synchronous) {
            EXPECT_TRUE(dktest::turnUntil([&] {
                std::lock_guard lock(mutex);
                return !peaks.empty();
            }, 60));
        }
        plat::foundation::setLineObserver(nullptr);
        for (long peak : peaks) EXPECT_LE(peak, 1280);
        watch.lines.clear();
        watch.failures.clear();
        show("/function.html");
        EXPECT_TRUE(watch.has("load"));
        // Each case's views are its own.
        view.reset();
        KSContentView::clearContentViews();
        target = std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320, 480});
        watch.lines.clear();
        watch.failures.clear();
    }
}

TEST_F(KSContentViewEngineTest, LoadContextReachesThePageFunctionAfterTheVersion) {
    show("/function.html");
    navigate("ks://loadContext?callback=c1");
    EXPECT_EQ(got(), std::string("[") + kContextReply + "]");
    EXPECT_TRUE(watch.has("allow " + url("/function.html")));
    EXPECT_TRUE(watch.has("refuse ks://loadContext?callback=c1"));
    EXPECT_FALSE(watch.has("fail 3"));
}

TEST_F(KSContentViewEngineTest, LoadContextReachesKioskNativeAPI) {
    show("/native.html");
    navigate("ks://loadContext?callback=c1");
    EXPECT_EQ(got(), std::string("[") + kContextReply + "]");
    EXPECT_FALSE(watch.has("fail 3"));
}

TEST_F(KSContentViewEngineTest, APageWithNeitherEntryFailsTheViewWithCode3) {
    show("/plain.html");
    navigate("ks://loadContext?callback=c1");
    ASSERT_TRUE(dktest::turnUntil([&] { return watch.has("fail 3"); }));
    EXPECT_FALSE(watch.has("dismiss"));
}

TEST_F(KSContentViewEngineTest, IdsWithQuotesAndBackslashesAndCallsFromIframes) {
    show("/function.html");
    navigate("ks://loadContext?callback=a%22b%5Cc%27d", true);
    navigate("ks://loadContext");
    EXPECT_EQ(got(), R"([{"c":"a\"b\\c'd","r":{"level":3,"name":"q\"b\\"},"e":null,"v":5},)"
                     R"({"c":"null","r":{"level":3,"name":"q\"b\\"},"e":null,"v":5}])");
}

TEST_F(KSContentViewEngineTest, DismissPingsAndClosesWithoutAReplyOrAnOpening) {
    show("/function.html");
    const std::string ping = url("/ping?x=1");
    navigate("ks://dismiss?context=" + KSStringUtil::stringByUrlEncodingString(R"({"ping":")" + ping + R"("})"));
    ASSERT_TRUE(dktest::turnUntil([&] {
        for (const std::string& line : server.requestLines())
            if (line.find("GET /ping?x=1 ") != std::string::npos) return true;
        return false;
    }));
    EXPECT_TRUE(watch.has("dismiss"));
    for (const std::string& script : watch.scripts) EXPECT_EQ(script.find("KioskAPICallback"), std::string::npos);
    EXPECT_EQ(opened, Lines{});
}

TEST_F(KSContentViewEngineTest, UnregisteredKsAddressesAreRefusedAndOtherSchemesLoad) {
    show("/function.html");
    navigate("ks://nothing?callback=1");
    EXPECT_EQ(got(), "[]");  // still the template, no reply
    navigate(url("/other.html"));
    ASSERT_TRUE(dktest::turnUntil([&] { return view->webView().stringByEvaluatingJavaScript("document.title") == "other"; }));
    EXPECT_TRUE(watch.has("refuse ks://nothing?callback=1"));
    EXPECT_TRUE(watch.has("allow " + url("/other.html")));
}

// A unit whose template is a local file or a script fails as a template that cannot load, showing
// nothing of it; neither its page nor a frame of it can go to a data address.
TEST_F(KSContentViewEngineTest, OnlyTheWebLoadsInAUnit) {
    dktest::writeFile(dir.file("secret.html"), "<html><head><title>secret</title></head><body>secret</body></html>");
    const std::string secret = "file://" + dir.file("secret.html");
    for (const std::string& address : {secret, std::string("javascript:document.title='secret'")}) {
        watch.lines.clear();
        auto unit = KSJsonParser().objectWithString(R"({"url":")" + address +
                                                    R"(","transition":"KS_DIALOG","frame":"KS_FULLSCREEN"})");
        view = KSContentView::make(KSContent::contentWithDictionary(*unit->object()));
        view->setDelegate(&watch);
        view->setTargetView(target.get());
        view->show(false);
        ASSERT_TRUE(dktest::turnUntil([&] { return watch.has("fail -1002"); })) << address;
        EXPECT_EQ(watch.lines, (Lines{"show", "fail -1002"})) << address;
        EXPECT_EQ(view->webView().stringByEvaluatingJavaScript("document.title"), "") << address;
    }
    // (The engine keeps a web page's frames off local files by itself.)
    watch.lines.clear();
    show("/other.html");
    navigate("data:text/html,<title>data</title>");
    navigate("data:text/html,<p>frame</p>", true);
    EXPECT_TRUE(watch.has("refuse data:text/html,<title>data</title>"));
    EXPECT_TRUE(watch.has("refuse data:text/html,<p>frame</p>"));
    EXPECT_EQ(view->webView().stringByEvaluatingJavaScript("document.title + ' ' + document.body.textContent"),
              "other unit");
}

TEST_F(KSContentViewEngineTest, LaunchOpensTheFinalAddressAndRepliesWithIt) {
    show("/function.html");
    auto launch = [&](const std::string& id, const std::string& path) {
        const std::string context = KSStringUtil::stringByUrlEncodingString(R"({"url":")" + url(path) + R"("})");
        navigate("ks://launch?callback=" + id + "&context=" + context);
        return dktest::turnUntil([&] { return got().find("\"" + id + "\"") != std::string::npos; });
    };
    ASSERT_TRUE(launch("L1", "/go"));
    ASSERT_TRUE(launch("L2", "/missing"));
    EXPECT_EQ(got(), R"([{"c":"L1","r":{"url":")" + url("/final") + R"("},"e":null},)"
                     R"({"c":"L2","r":{"url":")" + url("/missing") + R"("},"e":{"error":"1"}}])");
    EXPECT_EQ(opened, Lines{url("/final")});
}

// The process's shared cache, as the session open installs it, put back afterwards.
class KSContentViewCacheTest : public KSContentViewEngineTest {
protected:
    void SetUp() override {
        KSContentViewEngineTest::SetUp();
        install();
    }
    void TearDown() override {
        KSContentViewEngineTest::TearDown();
        if (cache) cache->waitForIO();
        plat::net::URLCache::setShared(previous);
    }
    // A new cache on the same directory: what the next launch finds.
    void install() {
        if (cache) cache->waitForIO();
        cache = std::make_shared<SDURLCache>(1048576, 10485760, dir.file("SDURLCache"));
        plat::net::URLCache::setShared(cache);
    }
    std::string title() { return view->webView().stringByEvaluatingJavaScript("document.title"); }
    // Stored the way the session open stores its "precache" list.
    void storeAhead(const std::string& path) {
        plat::net::Request request;
        request.url = url(path);
        request.cachePolicy = plat::net::kReturnCacheDataElseLoad;
        bool stored = false;
        plat::net::ConnectionHandlers handlers;
        handlers.didFinish = [&] { stored = true; };
        handlers.didFail = [&](const plat::foundation::Error&) { stored = true; };
        plat::net::Connection connection = plat::net::Connection::start(request, std::move(handlers));
        ASSERT_TRUE(dktest::turnUntil([&] { return stored; }));
        ASSERT_EQ(fetches(path), 1u);
    }

    std::shared_ptr<plat::net::URLCache> previous = plat::net::URLCache::shared();
    std::shared_ptr<SDURLCache> cache;
};

TEST_F(KSContentViewCacheTest, ATemplateFreshForAnHourIsFetchedOnceForTwoShows) {
    show("/cached.html");
    EXPECT_EQ(title(), "cached");
    watch.lines.clear();
    show("/cached.html");
    EXPECT_TRUE(watch.has("load"));
    EXPECT_EQ(title(), "cached");
    // The stored answer is shown at its own address: relative links and the origin are the server's.
    EXPECT_EQ(view->webView().stringByEvaluatingJavaScript("document.baseURI"), url("/cached.html"));
    EXPECT_EQ(fetches("/cached.html"), 1u);
}

// The mended fault: an answer marked no-store was kept in memory and shown again from there.
// Neither memory nor disk keeps one, tagged or not: each show, in this launch or the next, asks.
TEST_F(KSContentViewCacheTest, ANoStoreTemplateIsFetchedForEachShow) {
    for (const char* path : {"/nostore.html", "/tagged.html"}) {
        SCOPED_TRACE(path);
        const std::string name = std::string(path).substr(1, std::string(path).find('.') - 1);
        for (int shown = 1; shown <= 3; ++shown) {
            if (shown == 3) install();
            watch.lines.clear();
            show(path);
            ASSERT_TRUE(watch.has("load"));
            EXPECT_EQ(title(), name);
            EXPECT_EQ(fetches(path), static_cast<std::size_t>(shown));
        }
        cache->waitForIO();
        EXPECT_FALSE(cache->isCached(url(path)));
    }
}

// Stored ahead the way the session open stores its "precache" list, then shown in this launch and
// the next without the server being asked again.
TEST_F(KSContentViewCacheTest, ATemplateStoredAheadIsShownWithoutAFetch) {
    storeAhead("/ahead.html");
    show("/ahead.html");
    EXPECT_EQ(title(), "ahead");
    install();
    watch.lines.clear();
    show("/ahead.html");
    EXPECT_TRUE(watch.has("load"));
    EXPECT_EQ(title(), "ahead");
    EXPECT_EQ(fetches("/ahead.html"), 1u);
}

// The mended fault: a portrait-only unit shown with the device turned failed with code 2, but only
// after its template had been fetched (or taken from the cache) and its script run. It fails first.
TEST_F(KSContentViewCacheTest, AUnitWithNoFrameForTheTurnFailsBeforeItsTemplateLoads) {
    storeAhead("/portrait-ahead.html");
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationLandscapeLeft);
    std::vector<std::shared_ptr<KSContentView>> failed;  // kept, as the pool keeps them
    for (const char* path : {"/portrait.html", "/portrait-ahead.html"}) {
        watch.lines.clear();
        show(path, R"({"KS_PORTRAIT":{"x":10,"y":20,"w":200,"h":100}})");
        EXPECT_EQ(watch.lines, Lines{"fail 2"}) << path;
        failed.push_back(view);
    }
    // A unit that loads after them: what the failed shows set off has reached the server by then.
    plat::sys::Device::current().setOrientation(plat::sys::kDeviceOrientationPortrait);
    watch.lines.clear();
    show("/other.html");
    ASSERT_TRUE(watch.has("load"));
    EXPECT_EQ(fetches("/portrait.html"), 0u);
    EXPECT_EQ(fetches("/portrait-ahead.html"), 1u);
    EXPECT_EQ(fetches("/ran"), 0u);
}

}  // namespace
