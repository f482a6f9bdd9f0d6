// Pages that never yield, on WPE WebKit headless: the main thread waits on such a page once at
// most, the page's web process is ended, and the next page loads in a fresh one. (A creative
// stopped at its time-out: the banner engine's tests; a page past the memory limit: the content
// view's.)
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "platform/web/PageEngine.h"
#include "platform/web/tests/WebTestPages.h"
#include "platform/web/tests/WebTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using dktest::NotingWebDelegate;
using dktest::turnUntil;
using dktest::turnUntilLine;
using plat::ui::Point;
using plat::ui::TouchPhase;
using plat::ui::WebView;

// Seconds given to what is awaited, on a machine under load.
constexpr double kCap = 60;
const std::string kBase = "http://127.0.0.1/";

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A server answering every request with the page of four corner buttons.
struct UnitServer {
    dktest::TempDir dir;
    dktest::RecordingServer server{
        dir.path(),
        R"({"default": {"headers": [["Content-Type", "text/html; charset=utf-8"]], "body": )" +
            jsonString(dktest::cornerButtonsPage()) + "}}",
        120};
    std::string url(const std::string& path) const { return server.url() + path; }
    bool heardLooping() const {
        for (const std::string& line : server.requestLines())
            if (line.find("/looping") != std::string::npos) return true;
        return false;
    }
};

class WPEStuckPageTest : public ::testing::Test {
protected:
    struct Delegate : plat::ui::ApplicationDelegate {};
    void SetUp() override {
        ASSERT_TRUE(plat::web::useWebEngine("wpe"));
        app.launch();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override { plat::web::useWebEngine("none"); }

    std::shared_ptr<WebView> show(NotingWebDelegate& delegate) {
        auto view = std::make_shared<WebView>(plat::ui::Rect{0, 0, 200, 200});
        view->setDelegate(&delegate);
        root->view()->addSubview(view);
        return view;
    }
    // A page that loaded and stays on (a pooled content view, a banner on show): it shares the web
    // process of the views made after it.
    std::shared_ptr<WebView> bystander(NotingWebDelegate& delegate) {
        auto view = show(delegate);
        view->loadHTMLString("<html><body>on show</body></html>", kBase);
        EXPECT_TRUE(turnUntilLine(delegate, "finish", kCap));
        return view;
    }
    void tap(Point p) {
        ASSERT_TRUE(app.injectTouches({{TouchPhase::Began, 1, p}}));
        ASSERT_TRUE(app.injectTouches({{TouchPhase::Ended, 1, p}}));
    }
    // The unit page at `url` loads into `view` (its delegate nextDelegate), draws and takes a tap.
    void loadsAndTakesATap(WebView& view, const std::string& url) {
        view.load(url);
        ASSERT_TRUE(turnUntilLine(nextDelegate, "finish", kCap)) << ::testing::PrintToString(nextDelegate.lines);
        ASSERT_TRUE(turnUntil([&] { return view.engine()->frame() != nullptr; }, kCap));
        tap({5, 5});
        ASSERT_TRUE(turnUntil(
            [&] { return view.stringByEvaluatingJavaScript("got.join('|')") == dktest::clickRecord("tl", 5, 5); }, kCap));
    }

    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    plat::ui::Application app{std::make_unique<Delegate>(), &loop};
    std::shared_ptr<plat::ui::ViewController> root = std::make_shared<plat::ui::ViewController>();
    std::shared_ptr<plat::ui::Window> window = std::make_shared<plat::ui::Window>(plat::sys::Screen::main().bounds());
    NotingWebDelegate otherDelegate, stuckDelegate, nextDelegate;
};

// A unit whose page never yields, asked three scripts (as a rotation does) and dismissed: its view
// gone, or put back for reuse as a content view is after its page was cleared. The next unit, in
// a new view or that one, loads and answers a tap. The main thread waited on the stuck page once:
// one evaluation waited out its limit, the later ones (the clearing script too) none, the page
// being known not to answer.
TEST_F(WPEStuckPageTest, AStuckPageIsWaitedOnOnceAndTheNextUnitLoadsAndIsTapped) {
    struct Case {
        const char* loop;
        bool reused;
    };
    for (const Case& c : {Case{"while (true) {}", false}, Case{"for (;;) alert('stuck');", true}}) {
        SCOPED_TRACE(c.loop);
        UnitServer s;
        ASSERT_TRUE(s.server.running());
        auto other = bystander(otherDelegate);
        auto stuck = show(stuckDelegate);
        stuck->loadHTMLString(dktest::neverYieldingPage(c.loop), s.url("/"));
        ASSERT_TRUE(turnUntil([&] { return s.heardLooping(); }, kCap));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(stuck->stringByEvaluatingJavaScript("window.innerWidth"), "");
        stuck->setDelegate(nullptr);
        stuck->stopLoading();
        std::shared_ptr<WebView> next;
        if (c.reused) {
            EXPECT_EQ(stuck->stringByEvaluatingJavaScript("document.open();document.close();"), "");
        }
        // Read before the next unit's page, whose own evaluations are not the stuck page's.
        const plat::ui::WebEngine::EvaluationCounts counts = stuck->engine()->evaluationCounts();
        EXPECT_EQ(counts.waitedOut, 1);
        EXPECT_EQ(counts.notWaited, c.reused ? 3 : 2);
        if (c.reused) {
            next = stuck;
            next->setDelegate(&nextDelegate);
        } else {
            stuck->removeFromSuperview();
            stuck.reset();
            next = show(nextDelegate);
        }
        loadsAndTakesATap(*next, s.url("/unit"));
        if (HasFatalFailure()) return;
        next->removeFromSuperview();
        other->removeFromSuperview();
        for (NotingWebDelegate* d : {&otherDelegate, &stuckDelegate, &nextDelegate}) d->take();
    }
}

// A page that stops answering once loaded, still shown: the next load, into a view made after it
// (which would join the page's process) or into the stuck view itself, goes to a fresh process,
// loads and answers a tap; the page shown in the first case keeps its view.
TEST_F(WPEStuckPageTest, APageGoneSilentAfterItsLoadNeverTakesTheNextLoadWithIt) {
    for (const bool sameView : {false, true}) {
        SCOPED_TRACE(sameView ? "the stuck view loads again" : "a view made after it");
        UnitServer s;
        ASSERT_TRUE(s.server.running());
        auto stuck = show(stuckDelegate);
        stuck->loadHTMLString(dktest::silentAfterLoadPage("while (true) {}"), s.url("/"));
        ASSERT_TRUE(turnUntilLine(stuckDelegate, "finish", kCap));
        ASSERT_TRUE(turnUntil([&] { return s.heardLooping(); }, kCap));
        std::shared_ptr<WebView> next = sameView ? stuck : show(nextDelegate);
        next->setDelegate(&nextDelegate);
        loadsAndTakesATap(*next, s.url("/unit"));
        if (HasFatalFailure()) return;
        for (const std::string& line : stuckDelegate.take()) EXPECT_FALSE(line.starts_with("fail")) << line;
        next->removeFromSuperview();
        stuck->removeFromSuperview();
        for (NotingWebDelegate* d : {&stuckDelegate, &nextDelegate}) d->take();
    }
}

// A load that never ends holds the clock as a transfer does, keeping a virtual clock to real time,
// and not as a task, which holds each of its jumps for up to 10 s.
TEST_F(WPEStuckPageTest, ALoadThatNeverEndsHoldsTheClockAsATransfer) {
    UnitServer s;
    ASSERT_TRUE(s.server.running());
    auto stuck = show(stuckDelegate);
    stuck->loadHTMLString(dktest::neverYieldingPage("while (true) {}"), s.url("/"));
    ASSERT_TRUE(turnUntil([&] { return s.heardLooping(); }, kCap));
    ASSERT_TRUE(stuck->isLoading());
    const plat::foundation::Clock& clock = plat::foundation::Clock::process();
    EXPECT_TRUE(clock.hasWorkInFlight());
    EXPECT_FALSE(clock.hasTaskInFlight());
    stuck->removeFromSuperview();
}

}  // namespace
