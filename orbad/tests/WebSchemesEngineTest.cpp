// Web addresses only, on WPE WebKit: the rich-media page and the in-app browser never show a
// local file or run a script address, whether the page navigates there or the client is handed one.
#include <gtest/gtest.h>

#include <algorithm>

#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Container.h"
#include "platform/ui/ActionSheet.h"
#include "platform/ui/Application.h"
#include "platform/ui/Bars.h"
#include "platform/ui/Window.h"
#include "platform/web/PageEngine.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using Lines = std::vector<std::string>;

// Every navigation a web view's delegate decided: "allow URL" or "refuse URL".
struct Decisions : plat::ui::WebViewObserver {
    Lines lines;
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& r, plat::ui::WebNavigationType,
                        bool allowed) override {
        lines.push_back((allowed ? "allow " : "refuse ") + r.url);
    }
    bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    bool decided(const std::string& url) const { return has("allow " + url) || has("refuse " + url); }
};

class WebSchemesOnTheEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.schemes", m_dir.file("home")));
        plat::ui::WebView::setObserver(&decisions);
        // What a page must never show.
        dktest::writeFile(m_dir.file("secret.html"), "<html><head><title>secret</title></head><body>secret</body></html>");
        secret = "file://" + m_dir.file("secret.html");
    }
    void TearDown() override {
        plat::ui::WebView::setObserver(nullptr);
        plat::web::useWebEngine("none");
    }
    void waitForDecision(const std::string& url) {
        ASSERT_TRUE(dktest::turnUntil([&] { return decisions.decided(url); }, 30)) << url;
    }

    dktest::TempDir m_dir;
    Decisions decisions;
    std::string secret;
};

constexpr const char* kAdPage =
    "<html><head><script>window.rec = [];"
    "function mAdViewUnknownURLHandler(u) { window.rec.push(u); }"
    "</script></head><body>ad</body></html>";

// The ad's page may be its own file, nothing else of the disk: another file or a script address
// handed to the view reaches the page's unknown address handler and loads nothing. (The engine
// itself keeps the page's own navigations and frames off other files.)
TEST_F(WebSchemesOnTheEngine, TheRichMediaPageStaysItsOwnFile) {
    auto host = std::make_shared<dktest::NotingHost>();
    auto view = std::make_shared<orbad::OrbadRichMediaWebAdView>(plat::ui::Rect{0, 0, 320, 50});
    view->setMainAdView(host);
    view->loadWithAd(dktest::adFrom(std::string(R"({"type":"html","props":{"html":")") + kAdPage + "\"}}"));
    ASSERT_TRUE(dktest::turnUntil([&] { return !host->lines.empty(); }, 30));
    ASSERT_EQ(host->lines, Lines{"finished"});
    auto js = [&](const std::string& script) { return view->stringByEvaluatingJavaScript(script); };
    auto heard = [&](std::size_t n) {
        return dktest::turnUntil([&] { return js("String(window.rec.length)") == std::to_string(n); }, 30);
    };

    const std::string script = "javascript:window.evil = 1";
    view->loadRequest({secret});
    waitForDecision(secret);
    ASSERT_TRUE(heard(1));
    view->loadRequest({script});
    waitForDecision(script);
    ASSERT_TRUE(heard(2));

    EXPECT_EQ(js("JSON.stringify(window.rec)"), "[\"" + secret + "\",\"" + script + "\"]");
    EXPECT_EQ(decisions.lines,
              (Lines{"allow file://" + view->cacheLocation(), "refuse " + secret, "refuse " + script}));
    EXPECT_EQ(js("document.title + document.body.firstChild.textContent + ' ' + typeof window.evil"), "ad undefined");
    EXPECT_EQ(host->lines, Lines{"finished"});
}

// The browser opened on a local file, a data or a script address shows nothing of it and offers
// nothing to open outside; a web page's link to a data address is refused too.
TEST_F(WebSchemesOnTheEngine, TheBrowserShowsOnlyTheWeb) {
    std::unique_ptr<plat::ui::Application> app;
    std::shared_ptr<plat::ui::ViewController> root;
    std::shared_ptr<plat::ui::Window> window;
    dktest::launchOnScreen(app, root, window);
    dktest::RecordingServer server(
        m_dir.file("server"),
        R"({"default": {"headers": [["Content-Type", "text/html"]], "body": "<html><head><title>web</title></head><body>web</body></html>"}})");
    ASSERT_TRUE(server.running());
    const std::string data = "data:text/html,<title>data</title>";
    const std::string script = "javascript:document.title='script'";
    for (const std::string& url : {secret, data, script}) {
        decisions.lines.clear();
        auto browser = orbad::OBBrowserViewController::withURL(url, 0);
        root->presentViewController(browser, false);
        waitForDecision(url);
        EXPECT_EQ(decisions.lines, Lines{"refuse " + url});
        EXPECT_FALSE(browser->webView()->isLoading()) << url;
        EXPECT_EQ(browser->webView()->stringByEvaluatingJavaScript("document.title"), "") << url;
        browser->actionItem()->press();
        ASSERT_TRUE(plat::ui::ActionSheet::onScreen());
        plat::ui::ActionSheet::onScreen()->pressButton(0);
        EXPECT_EQ(app->openedURLs(), Lines{}) << url;
        root->dismissViewController(false);
    }

    decisions.lines.clear();
    auto browser = orbad::OBBrowserViewController::withURL(server.url() + "/page", 0);
    root->presentViewController(browser, false);
    auto title = [&] { return browser->webView()->stringByEvaluatingJavaScript("document.title"); };
    ASSERT_TRUE(dktest::turnUntil([&] { return title() == "web"; }, 30));
    // (The engine itself keeps a web page's links off local files.)
    browser->webView()->stringByEvaluatingJavaScript("var a = document.createElement('a'); a.href = '" + data +
                                                     "'; document.body.appendChild(a); a.click();");
    waitForDecision(data);
    EXPECT_TRUE(decisions.has("refuse " + data));
    EXPECT_EQ(title(), "web");
    EXPECT_EQ(browser->requestURL(), server.url() + "/page");
    root->dismissViewController(false);
}

}  // namespace
