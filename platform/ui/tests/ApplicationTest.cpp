// The application's lifecycle: order of trace, delegate and notification, the launch against the
// main queue, the driver's transitions from each state, quit and teardown, memory warnings.
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;
using plat::foundation::Clock;
using plat::foundation::RunLoop;

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
    }
    // An application on a loop of its own, so that a quit stops nothing else.
    std::unique_ptr<Application> make(std::unique_ptr<NotingDelegate> delegate = std::make_unique<NotingDelegate>()) {
        return std::make_unique<Application>(std::move(delegate), &loop);
    }

    RunLoop loop{std::make_shared<Clock>(Clock::Kind::Virtual)};
    TraceLog log;
};

const Lines kLaunch = transitionLines("didFinishLaunching") + Lines{"ui rotate 1"} + transitionLines("didBecomeActive");

TEST_F(ApplicationTest, LaunchesBothStepsBeforeTheMainQueueRuns) {
    auto delegate = std::make_unique<NotingDelegate>();
    delegate->onLaunch = [](Application&) { plat::foundation::mainAsync([] { note("main queue block"); }); };
    Application app(std::move(delegate));
    EXPECT_EQ(app.state(), ApplicationState::NotRunning);
    app.launch();
    app.launch();  // once
    EXPECT_EQ(app.state(), ApplicationState::Active);
    RunLoop::main().runFor(0.01);
    EXPECT_EQ(log.take(), kLaunch + Lines{"test main queue block"});
}

TEST_F(ApplicationTest, DriverTransitionsApplyOnlyWhereTheyMakeSense) {
    enum Op { Resign, Activate, Background, Foreground, Memory, Quit };
    const auto apply = [](Application& app, Op op) {
        switch (op) {
        case Resign: return app.resignActive();
        case Activate: return app.becomeActive();
        case Background: return app.enterBackground();
        case Foreground: return app.enterForeground();
        case Memory: return app.receiveMemoryWarning();
        case Quit: app.quit(); return true;
        }
        return false;
    };
    const auto t = transitionLines;
    const struct {
        std::vector<Op> ops;
        std::vector<bool> results;
        Lines lines;  // after the launch
        ApplicationState state;
    } cases[] = {
        {{Resign, Resign}, {true, false}, t("willResignActive"), ApplicationState::Inactive},
        {{Activate}, {false}, {}, ApplicationState::Active},
        {{Resign, Activate}, {true, true}, t("willResignActive") + t("didBecomeActive"), ApplicationState::Active},
        {{Background, Background, Activate},
         {true, false, false},
         t("willResignActive") + t("didEnterBackground"),
         ApplicationState::Background},
        {{Resign, Background}, {true, true}, t("willResignActive") + t("didEnterBackground"), ApplicationState::Background},
        {{Foreground}, {false}, {}, ApplicationState::Active},
        {{Background, Foreground},
         {true, true},
         t("willResignActive") + t("didEnterBackground") + t("willEnterForeground") + t("didBecomeActive"),
         ApplicationState::Active},
        {{Background, Memory}, {true, true}, t("willResignActive") + t("didEnterBackground") + t("didReceiveMemoryWarning"),
         ApplicationState::Background},
        {{Quit, Memory, Resign, Foreground},
         {true, false, false, false},
         t("willResignActive") + t("didEnterBackground") + t("willTerminate"),
         ApplicationState::NotRunning},
        {{Resign, Quit}, {true, true}, t("willResignActive") + t("didEnterBackground") + t("willTerminate"),
         ApplicationState::NotRunning},
        {{Background, Quit, Quit}, {true, true, true}, t("willResignActive") + t("didEnterBackground") + t("willTerminate"),
         ApplicationState::NotRunning},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        auto app = make();
        app->launch();
        log.take();
        for (size_t k = 0; k < c.ops.size(); ++k) EXPECT_EQ(apply(*app, c.ops[k]), c.results[k]) << "case " << i << " op " << k;
        EXPECT_EQ(app->state(), c.state) << "case " << i;
        app.reset();
        Lines lines = log.take();
        ASSERT_FALSE(lines.empty());
        lines.pop_back();  // "test delegate destroyed"
        EXPECT_EQ(lines, c.lines) << "case " << i;
    }
}

TEST_F(ApplicationTest, StateDuringEachCallIsThePlatformsOne) {
    struct StateNotingDelegate : NotingDelegate {
        void noteState(const char* op) {
            static const char* names[] = {"NotRunning", "Inactive", "Active", "Background"};
            note(std::string(op) + " in " + names[static_cast<int>(Application::shared()->state())]);
        }
        void didFinishLaunching(Application&) override { noteState("didFinishLaunching"); }
        void didBecomeActive(Application&) override { noteState("didBecomeActive"); }
        void willResignActive(Application&) override { noteState("willResignActive"); }
        void didEnterBackground(Application&) override { noteState("didEnterBackground"); }
        void willEnterForeground(Application&) override { noteState("willEnterForeground"); }
        void willTerminate(Application&) override { noteState("willTerminate"); }
    };
    auto app = std::make_unique<Application>(std::make_unique<StateNotingDelegate>(), &loop);
    app->launch();
    app->enterBackground();
    app->enterForeground();
    app->quit();
    Lines notes;
    for (const std::string& line : log.take())
        if (line.find(" in ") != std::string::npos) notes.push_back(line);
    const Lines expected{
        "test didFinishLaunching in Inactive",   "test didBecomeActive in Active",   "test willResignActive in Active",
        "test didEnterBackground in Background", "test willEnterForeground in Background", "test didBecomeActive in Active",
        "test willResignActive in Active",       "test didEnterBackground in Background", "test willTerminate in Background",
    };
    EXPECT_EQ(notes, expected);
}

TEST_F(ApplicationTest, RunEndsWithTheQuitSequenceThenTearsDownInOrder) {
    // The window belongs to the delegate, as the player's does: it goes when the delegate goes.
    struct WindowOwner : NotingDelegate {
        std::shared_ptr<Window> window;
    };
    auto owner = std::make_unique<WindowOwner>();
    owner->onLaunch = [owner = owner.get()](Application& app) {
        owner->window = showWindow(std::make_shared<NotingController>("Root"));
        app.runLoop().performAfter(2, nullptr, [&app] { app.quit(); });
    };
    auto app = make(std::move(owner));
    int status = app->run();
    note("run returned");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(app->delegate(), nullptr);
    EXPECT_EQ(app->keyWindow(), nullptr);
    EXPECT_EQ(loop.now(), 2);
    const Lines launching{"lifecycle didFinishLaunching", "test delegate didFinishLaunching", "test Root viewDidLoad",
                          "test Root viewWillAppear", "test Root viewDidAppear",
                          "notify UIApplicationDidFinishLaunchingNotification from UIApplication", "ui rotate 1"};
    const Lines expected = launching + transitionLines("didBecomeActive") + transitionLines("willResignActive") +
                           transitionLines("didEnterBackground") + transitionLines("willTerminate") +
                           Lines{"test Root destroyed", "test delegate destroyed", "test run returned"};
    EXPECT_EQ(log.take(), expected);
}

TEST_F(ApplicationTest, MemoryWarningGoesToDelegateNotificationThenRootAndPresentedChain) {
    std::shared_ptr<Window> window;
    auto app = make();
    app->launch();
    auto root = std::make_shared<NotingController>("Root");
    auto first = std::make_shared<NotingController>("First");
    window = showWindow(root);
    root->presentViewController(first, false);
    first->presentViewController(std::make_shared<NotingController>("Second"), false);
    log.take();
    EXPECT_TRUE(app->receiveMemoryWarning());
    const Lines controllers{"test Root didReceiveMemoryWarning", "test First didReceiveMemoryWarning",
                            "test Second didReceiveMemoryWarning"};
    EXPECT_EQ(log.take(), transitionLines("didReceiveMemoryWarning") + controllers);
}

// Over the current context the presenter's view stays in the window beneath, through the
// dismissal; full screen it leaves and comes back.
TEST_F(ApplicationTest, PresentingOverTheCurrentContextKeepsThePresenterInTheWindow) {
    auto app = make();
    app->launch();
    for (const int style : {kModalPresentationFullScreen, kModalPresentationCurrentContext}) {
        SCOPED_TRACE(style);
        auto root = std::make_shared<NotingController>("Root");
        auto cover = std::make_shared<NotingController>("Cover");
        std::shared_ptr<Window> window = showWindow(root);
        root->setModalPresentationStyle(style);
        root->presentViewController(cover, false);
        const bool kept = style == kModalPresentationCurrentContext;
        EXPECT_EQ(root->view()->window() == window.get(), kept);
        EXPECT_EQ(window->subviews().back(), cover->view()) << "on top";
        root->dismissViewController(false);
        EXPECT_EQ(window->subviews(), std::vector<std::shared_ptr<View>>{root->view()});
    }
}

TEST_F(ApplicationTest, IdleTimerIsTracedOnChange) {
    auto app = make();
    for (bool disabled : {true, true, false, false, true}) app->setIdleTimerDisabled(disabled);
    EXPECT_EQ(log.take(),
              (Lines{"ui idleTimerDisabled 1", "ui idleTimerDisabled 0", "ui idleTimerDisabled 1"}));
}

TEST_F(ApplicationTest, TheOpenerHandsTheDesktopOnlyWhatItCanOpen) {
    // The desktop, as a window driver hands it URLs.
    struct Desktop : SystemServices {
        Lines handed;
        void setIdleTimerDisabled(bool) override {}
        bool openURL(const std::string& url) override {
            handed.push_back(url);
            return url.find("fails") == std::string::npos;
        }
    } desktop;
    Lines& handed = desktop.handed;
    auto app = make();
    app->setSystemServices(&desktop);
    enum Outcome { Handed, Declined, Refused, NotAURL };
    const struct Case {
        std::string url;
        bool canOpen;
        Outcome outcome;
        std::string traced;  // the refusal's line
    } cases[] = {
        {"http://127.0.0.1/more", true, Handed, ""},
        {"HTTPS://example.com/a?b=c#d", true, Handed, ""},
        {"mailto:someone@example.com", true, Handed, ""},
        {"prefs:root=TWITTER", false, Declined, ""},
        {"about:blank", false, Declined, ""},
        {"file:///etc/passwd", false, Declined, ""},
        {"javascript:alert(1)", false, Declined, ""},
        {"ftp://files.example.com/a", false, Declined, ""},
        {"http:no-host", false, Declined, ""},
        {"https:///path", false, Declined, ""},
        {"-http://example.com", false, Refused, "open refused -http://example.com"},
        {"http://example.com/\n--x", false, Refused, "open refused http://example.com/\\n--x"},
        {"http://example.com/\x7f\x01", false, Refused, "open refused http://example.com/\\x7f\\x01"},
        {"www.example.com", false, NotAURL, ""},
        {"", false, NotAURL, ""},
        {"http://example.com/a b", false, NotAURL, ""},
        {"http://\xc3\xa9t\xc3\xa9.fr", false, NotAURL, ""},
    };
    for (const Case& c : cases) {
        handed.clear();
        EXPECT_EQ(app->canOpenURL(c.url), c.canOpen) << c.url;
        testing::internal::CaptureStderr();
        // Only what reaches the desktop is said to be opened.
        EXPECT_EQ(app->openURL(c.url), c.outcome == Handed) << c.url;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(handed, c.outcome == Handed ? Lines{c.url} : Lines{}) << c.url;
        const Lines traced = c.outcome == Refused   ? Lines{c.traced}
                             : c.outcome == NotAURL ? Lines{}
                                                    : Lines{"open " + c.url};
        EXPECT_EQ(log.take(), traced) << c.url;
        EXPECT_EQ(err.empty(), c.outcome != NotAURL) << c.url << ": " << err;
    }
    EXPECT_EQ(app->openedURLs().size(), 10u);
    // A hand-off that fails is said, and the URL still counts as opened.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(app->openURL("https://fails.example.com"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("https://fails.example.com"), std::string::npos);
    EXPECT_EQ(app->openedURLs().back(), "https://fails.example.com");
}

}  // namespace
