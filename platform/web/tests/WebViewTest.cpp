// The web view's rules on the fake engine: decisions for every navigation, the fetch of our own
// loads, what a stop or a newer load does, and evaluations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/net/URLCache.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using dktest::NotingWebDelegate;
using dktest::turnUntil;
using dktest::turnUntilLine;
using plat::ui::WebNavigationType;
using plat::web::FakeWebEngine;
using Lines = std::vector<std::string>;

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("fake"));
        view = dktest::makeWebView(delegate);
    }
    void TearDown() override { plat::web::useWebEngine("none"); }
    FakeWebEngine& fake() { return *FakeWebEngine::of(*view); }
    // A page shown from a string, its load over.
    void showPage(const std::string& url) {
        view->loadHTMLString("<p>page</p>", url);
        ASSERT_TRUE(turnUntilLine(delegate, "finish"));
        delegate.take();
    }
    NotingWebDelegate delegate;
    std::shared_ptr<plat::ui::WebView> view;
};

TEST_F(WebViewTest, EveryNavigationIsAskedWithItsTypeAndARefusedOneLoadsNothing) {
    showPage("http://a.test/");
    std::string shown = "http://a.test/";
    const std::pair<WebNavigationType, int> types[] = {
        {WebNavigationType::LinkClicked, 0}, {WebNavigationType::FormSubmitted, 1}, {WebNavigationType::BackForward, 2},
        {WebNavigationType::Reload, 3},      {WebNavigationType::FormResubmitted, 4}, {WebNavigationType::Other, 5},
    };
    for (const auto& [type, number] : types) {
        const std::string url = "http://a.test/" + std::to_string(number);
        delegate.allow = [](const std::string&) { return false; };
        fake().injectNavigation(url, type);
        EXPECT_TRUE(delegate.lines.empty());  // asked on a later turn, never inside the call
        ASSERT_TRUE(turnUntilLine(delegate, "refuse"));
        EXPECT_EQ(delegate.take(), (Lines{"refuse " + std::to_string(number) + " " + url}));
        EXPECT_EQ(view->currentURL(), shown);
        delegate.allow = nullptr;
        fake().injectNavigation(url, type);
        ASSERT_TRUE(turnUntilLine(delegate, "finish"));
        EXPECT_EQ(delegate.take(), (Lines{"allow " + std::to_string(number) + " " + url, "start", "finish"}));
        EXPECT_EQ(view->currentURL(), url);
        shown = url;
    }
    // A frame's navigation is asked, and is not the page's load.
    fake().injectNavigation("http://a.test/frame", WebNavigationType::Other, false);
    turnUntil([] { return false; }, 0.2);
    EXPECT_EQ(delegate.take(), (Lines{"allow 5 http://a.test/frame"}));
    EXPECT_EQ(view->currentURL(), "http://a.test/5");
}

TEST_F(WebViewTest, OwnLoadsAreFetchedOnceAllowedAndErrorsFailThem) {
    dktest::TempDir dir;
    dktest::RecordingServer server(
        dir.path(),
        R"({"default": {"status": "HTTP/1.1 404 Not Found"}, "requests": {"1": {"status": "HTTP/1.1 200 OK", "headers": [["Content-Type", "text/html"]], "body": "<b>doc</b>"}}})",
        30);
    ASSERT_TRUE(server.running());
    delegate.allow = [](const std::string& url) { return url.find("refused") == std::string::npos; };
    view->load(server.url() + "/refused");
    EXPECT_TRUE(delegate.lines.empty());  // asked on a later turn, never inside the call
    EXPECT_TRUE(plat::foundation::Clock::process().hasWorkInFlight());  // the decision holds the clock
    turnUntil([] { return false; }, 0.2);
    EXPECT_EQ(delegate.take(), (Lines{"refuse 5 " + server.url() + "/refused"}));
    EXPECT_TRUE(server.requestLines().empty());

    view->loadRequest({server.url() + "/doc", plat::ui::WebCachePolicy::ReloadIgnoringCache, 5});
    ASSERT_TRUE(turnUntilLine(delegate, "finish", 5)) << ::testing::PrintToString(delegate.lines);
    EXPECT_EQ(delegate.take(), (Lines{"allow 5 " + server.url() + "/doc", "start", "finish"}));
    EXPECT_EQ(fake().document(), "<b>doc</b>");
    ASSERT_EQ(server.requestLines().size(), 1u);
    EXPECT_NE(server.requestLines()[0].find("no-cache"), std::string::npos);

    view->load(server.url() + "/missing");
    ASSERT_TRUE(turnUntilLine(delegate, "fail"));
    EXPECT_EQ(delegate.take(), (Lines{"allow 5 " + server.url() + "/missing", "start", "fail plat.web.http 404"}));

    const std::string closed = server.url() + "/gone";
    server.stop();
    view->load(closed);
    ASSERT_TRUE(turnUntilLine(delegate, "fail"));
    EXPECT_EQ(delegate.take(), (Lines{"allow 5 " + closed, "start", "fail NSURLErrorDomain -1004"}));
}

// Each policy reaches the shared cache as the loader reads it: only an answer stored there serves
// a load that may not go out, and a reload goes out whatever is stored.
TEST_F(WebViewTest, TheRequestsCachePolicyDecidesWhetherTheSharedCacheAnswers) {
    dktest::TempDir dir;
    dktest::RecordingServer server(
        dir.path(),
        R"({"default": {"headers": [["Content-Type", "text/html"], ["Cache-Control", "max-age=3600"]], "body": "<b>doc</b>"}})",
        30);
    ASSERT_TRUE(server.running());
    struct OwnCache {
        std::shared_ptr<plat::net::URLCache> previous = plat::net::URLCache::shared();
        OwnCache() { plat::net::URLCache::setShared(std::make_shared<plat::net::URLCache>(1 << 20, 0, "")); }
        ~OwnCache() { plat::net::URLCache::setShared(previous); }
    } cache;
    const std::string url = server.url() + "/doc";
    using plat::ui::WebCachePolicy;
    const struct {
        WebCachePolicy policy;
        const char* outcome;
        std::size_t requests;
    } steps[] = {
        {WebCachePolicy::ReturnCacheDataDontLoad, "fail NSURLErrorDomain -1008", 0},
        {WebCachePolicy::ReturnCacheDataElseLoad, "finish", 1},
        {WebCachePolicy::ReturnCacheDataElseLoad, "finish", 1},
        {WebCachePolicy::ReturnCacheDataDontLoad, "finish", 1},
        {WebCachePolicy::ReloadIgnoringCache, "finish", 2},
    };
    for (const auto& step : steps) {
        view->loadRequest({url, step.policy, 5});
        ASSERT_TRUE(turnUntil([&] { return delegate.lines.size() >= 3; }));
        EXPECT_EQ(delegate.take(), (Lines{"allow 5 " + url, "start", step.outcome}));
        EXPECT_EQ(server.requestLines().size(), step.requests);
        if (std::string(step.outcome) == "finish") {
            EXPECT_EQ(fake().document(), "<b>doc</b>");
            EXPECT_EQ(view->currentURL(), url);
        }
    }
}

// The mended fault: file addresses went to the network loading, which takes none, and failed.
TEST_F(WebViewTest, FileAddressesLoadTheFileAndAMissingOneFails) {
    dktest::TempDir dir;
    dktest::writeFile(dir.file("a page.html"), "<i>file</i>");
    const std::string url = "file://" + dir.path() + "/a%20page.html";
    view->load(url);
    ASSERT_TRUE(turnUntilLine(delegate, "finish"));
    EXPECT_EQ(delegate.take(), (Lines{"allow 5 " + url, "start", "finish"}));
    EXPECT_EQ(fake().document(), "<i>file</i>");
    EXPECT_EQ(view->currentURL(), url);

    view->load("file://" + dir.path() + "/missing.html");
    ASSERT_TRUE(turnUntilLine(delegate, "fail"));
    EXPECT_EQ(delegate.take().back(), "fail NSURLErrorDomain -1100");
}

TEST_F(WebViewTest, ALoadCutShortByAStopOrANewerLoadIsNoFailure) {
    showPage("http://a.test/");
    fake().setHoldsLoads(true);
    fake().injectNavigation("http://a.test/held", WebNavigationType::LinkClicked);
    ASSERT_TRUE(turnUntilLine(delegate, "start"));
    EXPECT_TRUE(view->isLoading());
    view->stopLoading();
    EXPECT_FALSE(view->isLoading());
    turnUntil([] { return false; }, 0.2);
    EXPECT_EQ(delegate.take(), (Lines{"allow 0 http://a.test/held", "start"}));

    fake().injectNavigation("http://a.test/held", WebNavigationType::LinkClicked);
    ASSERT_TRUE(turnUntilLine(delegate, "start"));
    fake().setHoldsLoads(false);
    view->loadHTMLString("<p>newer</p>", "http://a.test/newer");
    ASSERT_TRUE(turnUntilLine(delegate, "finish"));
    turnUntil([] { return false; }, 0.2);
    EXPECT_EQ(delegate.take(), (Lines{"allow 0 http://a.test/held", "start", "allow 5 http://a.test/newer", "start",
                                      "finish"}));
    EXPECT_EQ(view->currentURL(), "http://a.test/newer");
}

TEST_F(WebViewTest, EvaluationsAnswerFromThePageAndNothingWithoutOne) {
    fake().answer("document.title", "Title");
    EXPECT_EQ(view->stringByEvaluatingJavaScript("document.title"), "");  // no page yet
    showPage("http://a.test/");
    EXPECT_EQ(view->stringByEvaluatingJavaScript("document.title"), "Title");

    fake().setNeverAnswers(true);
    bool called = false;
    view->evaluateJavaScript("document.title", [&](const std::string&) { called = true; });
    turnUntil([] { return false; }, 0.2);
    EXPECT_FALSE(called);
    EXPECT_FALSE(plat::foundation::Clock::process().hasWorkInFlight());  // nor does it hold the clock
    EXPECT_EQ(view->stringByEvaluatingJavaScript("document.title"), "");

    fake().setNeverAnswers(false);
    fake().setHoldsLoads(true);
    fake().injectNavigation("http://a.test/held", WebNavigationType::LinkClicked);
    ASSERT_TRUE(turnUntilLine(delegate, "start"));
    fake().crash();
    ASSERT_TRUE(turnUntilLine(delegate, "fail"));
    EXPECT_EQ(view->stringByEvaluatingJavaScript("document.title"), "");
}

TEST_F(WebViewTest, TheUserAgentIsTheEnginesWithoutAPage) {
    EXPECT_EQ(view->userAgent(), plat::web::kFakeUserAgent);
    plat::web::useWebEngine("none");
    EXPECT_EQ(std::make_shared<plat::ui::WebView>()->userAgent(), "");
}

TEST_F(WebViewTest, CallsPostedForAViewThatIsGoneAreDropped) {
    view->loadHTMLString("<p>x</p>", "http://a.test/");
    view.reset();
    turnUntil([] { return false; }, 0.2);
    EXPECT_TRUE(delegate.lines.empty());
}

}  // namespace
