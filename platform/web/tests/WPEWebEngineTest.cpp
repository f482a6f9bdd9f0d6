// The web view on WPE WebKit, headless, with pages from the recording server on 127.0.0.1.
#include <gtest/gtest.h>

#include <cairo.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using dktest::NotingWebDelegate;
using dktest::turnUntil;
using dktest::turnUntilLine;
using Lines = std::vector<std::string>;

std::string page(const std::string& body) {
    return R"({"status": "HTTP/1.1 200 OK", "headers": [["Content-Type", "text/html; charset=utf-8"]], "body": )" +
           body + "}";
}

// A server answering its requests in turn with these answers (JSON), then 404.
struct Server {
    dktest::TempDir dir;
    dktest::RecordingServer server;
    explicit Server(const std::vector<std::string>& answers)
        : server(dir.path(), script(answers), 60) {}
    static std::string script(const std::vector<std::string>& answers) {
        std::string s = R"({"default": {"status": "HTTP/1.1 404 Not Found"}, "requests": {)";
        for (std::size_t i = 0; i < answers.size(); ++i)
            s += (i ? ", \"" : "\"") + std::to_string(i + 1) + "\": " + answers[i];
        return s + "}}";
    }
    std::string url(const std::string& path) const { return server.url() + path; }
};

class WPEWebEngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plat::web::useWebEngine("wpe")); }
    void TearDown() override { plat::web::useWebEngine("none"); }
    NotingWebDelegate delegate;
};

TEST_F(WPEWebEngineTest, AFetchedPageLoadsAndAnswersScripts) {
    Server s({page(R"("<html><head><title>Hello</title></head><body>hi</body></html>")")});
    ASSERT_TRUE(s.server.running());
    auto view = dktest::makeWebView(delegate);
    view->load(s.url("/first"));
    ASSERT_TRUE(turnUntilLine(delegate, "start"));
    // What the engine reports while a synchronous evaluation waits comes after it.
    const Lines before = delegate.lines;
    view->stringByEvaluatingJavaScript("document.readyState");
    EXPECT_EQ(delegate.lines, before);
    ASSERT_TRUE(turnUntilLine(delegate, "finish"));
    EXPECT_EQ(delegate.take(), (Lines{"allow 5 " + s.url("/first"), "start", "finish"}));
    EXPECT_EQ(view->currentURL(), s.url("/first"));
    EXPECT_EQ(s.server.requestLines().size(), 1u);

    const std::pair<const char*, const char*> cases[] = {
        {"document.title", "Hello"}, {"1 + 1", "2"}, {"0.5", "0.5"}, {"1 == 1", "true"},
        {"undefined", ""}, {"null", ""}, {"(function () { throw new Error('x'); })()", ""},
    };
    for (const auto& [script, expected] : cases) EXPECT_EQ(view->stringByEvaluatingJavaScript(script), expected) << script;

    std::string async = "unset";
    view->evaluateJavaScript("'as' + 'ync'", [&](const std::string& result) { async = result; });
    EXPECT_EQ(async, "unset");  // never inside the call
    ASSERT_TRUE(turnUntil([&] { return async != "unset"; }));
    EXPECT_EQ(async, "async");

    // The agent the page sees is the one the view tells without a page.
    EXPECT_EQ(dktest::makeWebView(delegate)->userAgent(), view->stringByEvaluatingJavaScript("navigator.userAgent"));
}

TEST_F(WPEWebEngineTest, RefusedNavigationsLoadNothingAndPageNavigationsAreAsked) {
    Server s({page(R"("<html><body><iframe src='/frame'></iframe><script>window.onload = function () { location.href = '/next'; };</script></body></html>")"),
              page(R"("<html><body>frame</body></html>")")});
    auto view = dktest::makeWebView(delegate);
    delegate.allow = [](const std::string& url) { return url.find("/next") == std::string::npos && url.find("/nothing") == std::string::npos; };
    view->load(s.url("/nothing"));
    turnUntil([] { return false; }, 0.3);
    EXPECT_EQ(delegate.take(), (Lines{"refuse 5 " + s.url("/nothing")}));
    EXPECT_TRUE(s.server.requestLines().empty());

    view->load(s.url("/page"));
    ASSERT_TRUE(turnUntilLine(delegate, "refuse 5 " + s.url("/next")));
    // The frame's navigation is asked too; the page's finish comes before its onload's navigation.
    EXPECT_EQ(delegate.take(), (Lines{"allow 5 " + s.url("/page"), "start", "allow 5 " + s.url("/frame"), "finish",
                                      "refuse 5 " + s.url("/next")}));
    EXPECT_EQ(s.server.requestLines().size(), 2u);
}

TEST_F(WPEWebEngineTest, FramesShowThePageAndTapsOnTheViewPressItsButtons) {
    // The web view in a window of a running application, where touches come from the driver.
    struct Delegate : plat::ui::ApplicationDelegate {};
    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    plat::ui::Application app(std::make_unique<Delegate>(), &loop);
    app.launch();
    auto root = std::make_shared<plat::ui::ViewController>();
    auto window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto view = dktest::makeWebView(delegate, 100, 100);
    view->setFrame({10, 10, 100, 100});
    root->view()->addSubview(view);
    view->loadHTMLString(
        "<html><body style='margin:0;background:#ff0000'>"
        "<button style='position:absolute;left:0;top:0;width:50px;height:50px' "
        "onclick='document.title=\"pressed\"'>b</button></body></html>",
        "http://127.0.0.1/");
    ASSERT_TRUE(turnUntilLine(delegate, "finish"));
    auto* engine = view->engine();
    ASSERT_TRUE(turnUntil([&] {
        cairo_surface_t* frame = engine->frame();
        if (!frame) return false;
        cairo_surface_flush(frame);
        const int stride = cairo_image_surface_get_stride(frame);
        const auto* data = cairo_image_surface_get_data(frame);
        // A pixel of the red background, below and right of the button, whatever the screen's scale.
        const int x = cairo_image_surface_get_width(frame) * 9 / 10, y = cairo_image_surface_get_height(frame) * 9 / 10;
        return reinterpret_cast<const uint32_t*>(data + y * stride)[x] == 0xffff0000u;
    }));
    using plat::ui::TouchPhase;
    ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, 1, plat::ui::Point{30, 30}}}));
    ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, 1, plat::ui::Point{30, 30}}}));
    ASSERT_TRUE(turnUntil([&] { return view->stringByEvaluatingJavaScript("document.title") == "pressed"; }));
}

// A view's start script runs before the page's first script in every document it shows, and only
// in that view's: another view of the same web process runs none.
TEST_F(WPEWebEngineTest, AStartScriptRunsBeforeThePagesOwnInThatViewAlone) {
    const std::string html = "<html><head><script>document.title = String(window.early);</script></head></html>";
    auto view = dktest::makeWebView(delegate);
    NotingWebDelegate otherDelegate;
    auto other = dktest::makeWebView(otherDelegate);
    view->setDocumentStartScript("window.early = 'first';");
    for (const char* expected : {"first", "second"}) {
        view->loadHTMLString(html, "http://127.0.0.1/");
        ASSERT_TRUE(turnUntilLine(delegate, "finish"));
        delegate.take();
        EXPECT_EQ(view->stringByEvaluatingJavaScript("document.title"), expected);
        view->setDocumentStartScript("window.early = 'second';");
    }
    other->loadHTMLString(html, "http://127.0.0.1/");
    ASSERT_TRUE(turnUntilLine(otherDelegate, "finish"));
    EXPECT_EQ(other->stringByEvaluatingJavaScript("document.title"), "undefined");
    view->setDocumentStartScript("");
    view->loadHTMLString(html, "http://127.0.0.1/");
    ASSERT_TRUE(turnUntilLine(delegate, "finish"));
    EXPECT_EQ(view->stringByEvaluatingJavaScript("document.title"), "undefined");
}

// Only the user's tap on a link is a link click: a script clicking a link is the page's own
// navigation.
TEST_F(WPEWebEngineTest, ALinkClickIsTheUsersTapNotAScriptsClick) {
    struct Delegate : plat::ui::ApplicationDelegate {};
    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    plat::ui::Application app(std::make_unique<Delegate>(), &loop);
    app.launch();
    auto root = std::make_shared<plat::ui::ViewController>();
    auto window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto view = dktest::makeWebView(delegate, 100, 100);
    root->view()->addSubview(view);
    delegate.allow = [](const std::string& url) { return url.find("/link") == std::string::npos; };
    // The page clicks a link of its own once loaded.
    view->loadHTMLString("<html><body style='margin:0'><a href='/link/tapped' "
                         "style='position:absolute;left:0;top:0;width:100px;height:100px;display:block'>a</a>"
                         "<script>window.onload = function() { var a = document.createElement('a'); "
                         "a.href = '/link/scripted'; document.body.appendChild(a); a.click(); };</script>"
                         "</body></html>",
                         "http://127.0.0.1/");
    // The page's finish and its onload's navigation, in whichever order they come.
    auto heard = [&](const std::string& line) {
        return std::find(delegate.lines.begin(), delegate.lines.end(), line) != delegate.lines.end();
    };
    ASSERT_TRUE(turnUntil([&] { return heard("finish") && heard("refuse 5 http://127.0.0.1/link/scripted"); }))
        << ::testing::PrintToString(delegate.lines);
    ASSERT_TRUE(turnUntil([&] { return view->engine()->frame() != nullptr; }));
    delegate.take();
    using plat::ui::TouchPhase;
    ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, 1, plat::ui::Point{20, 20}}}));
    ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, 1, plat::ui::Point{20, 20}}}));
    ASSERT_TRUE(turnUntilLine(delegate, "refuse"));
    EXPECT_EQ(delegate.take(), Lines{"refuse 0 http://127.0.0.1/link/tapped"});
}

}  // namespace

namespace {

// A view given a cookie policy keeps its cookies in a context of its own: the shared one never sees
// them, and its policy is left as it was.
TEST_F(WPEWebEngineTest, AViewsOwnCookiePolicyKeepsItsCookiesApart) {
    const std::string base = "http://cookies.test/";
    const std::string setter = "<html><script>document.cookie='ad=1; path=/'</script></html>";
    auto load = [&](plat::ui::WebView& view) {
        view.loadHTMLString(setter, base);
        ASSERT_TRUE(turnUntilLine(delegate, "finish"));
        delegate.take();
    };
    auto own = std::make_shared<plat::ui::WebView>(plat::ui::Rect{0, 0, 320, 480}, plat::ui::WebCookieAcceptPolicy::Always);
    own->setDelegate(&delegate);
    load(*own);
    EXPECT_EQ(own->stringByEvaluatingJavaScript("document.cookie"), "ad=1");
    auto shared = dktest::makeWebView(delegate);
    shared->loadHTMLString("<html></html>", base);
    ASSERT_TRUE(turnUntilLine(delegate, "finish"));
    EXPECT_EQ(shared->stringByEvaluatingJavaScript("document.cookie"), "");
}

}  // namespace
