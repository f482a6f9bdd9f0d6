// Alerts: over everything and modal to touches, one at a time in the order shown, each telling its
// delegate the button pressed.
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;
using plat::foundation::Clock;
using plat::foundation::RunLoop;

// Notes each press; `then` runs inside the call.
struct NotingAlertDelegate : AlertViewDelegate {
    std::function<void()> then;
    void alertViewClickedButton(AlertView& alert, int index, const std::string& title) override {
        note("delegate " + alert.title() + " " + std::to_string(index) + " " + title);
        if (then) then();
    }
    void alertViewCancel(AlertView& alert) override { note("delegate " + alert.title() + " cancel"); }
};

// Launched on the 320 x 480 phone, a white root view that notes its touches in the key window.
class AlertViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        app = std::make_unique<Application>(nullptr, &loop);
        app->launch();
        auto root = std::make_shared<NotingController>("Root");
        window = showWindow(root);
        root->view()->setBackgroundColor(Color{1, 1, 1, 1});
        log.take();
    }
    void tap(Point at) {
        app->injectTouches({{TouchPhase::Began, 1, at}});
        app->injectTouches({{TouchPhase::Ended, 1, std::nullopt}});
    }
    std::shared_ptr<AlertView> alert(const std::string& title, std::vector<std::string> buttons,
                                     std::optional<std::string> message = std::nullopt) {
        return std::make_shared<AlertView>(title, std::move(message), std::move(buttons), delegate);
    }

    RunLoop loop{std::make_shared<Clock>(Clock::Kind::Virtual)};
    TraceLog log;
    std::unique_ptr<Application> app;
    std::shared_ptr<Window> window;
    std::shared_ptr<NotingAlertDelegate> delegate = std::make_shared<NotingAlertDelegate>();
};

TEST_F(AlertViewTest, OnlyItsButtonsTakeTouchesWhileItIsUp) {
    auto saving = alert("Save", {"Cancel", "OK"}, "Keep your progress?");
    saving->show();
    TestScreen screen(320, 480);
    ASSERT_TRUE(app->compositor().composite(screen));
    EXPECT_NEAR(screen.pixel(5, 5)[0], 140, 2);  // the window dimmed by the alert's backdrop

    tap({5, 5});
    const View& ok = *saving->subviews().front()->subviews().back();
    tap(ok.convertPointToView({ok.bounds().width / 2, ok.bounds().height / 2}, nullptr));
    tap({5, 5});
    EXPECT_EQ(log.take(), (Lines{"alert show Save|Keep your progress?|Cancel,OK", "alert press 1|OK",
                                 "test delegate Save 1 OK", "test Root touchesBegan"}));
    EXPECT_TRUE(app->overlays().empty());
    EXPECT_FALSE(saving->pressButton(0));  // gone
}

TEST_F(AlertViewTest, OneAtATimeInTheOrderShown) {
    auto first = alert("First", {"A", "B"});
    auto second = alert("Second", {"C"});
    auto third = alert("Third", {"D"});
    first->show();
    second->show();
    first->show();  // queued already
    EXPECT_EQ(app->alerts(), (std::vector{first, second}));
    EXPECT_FALSE(second->pressButton(0));  // not on screen yet
    EXPECT_FALSE(first->pressButton(2));   // no such button
    delegate->then = [&] {
        delegate->then = nullptr;
        third->show();  // from inside the delegate: after those already waiting
    };
    EXPECT_TRUE(first->pressButton(0));
    EXPECT_TRUE(second->isVisible());
    delegate.reset();  // not owned: a delegate gone hears nothing
    EXPECT_TRUE(second->pressButton(0));
    EXPECT_TRUE(third->pressButton(0));
    EXPECT_EQ(log.take(), (Lines{"alert show First||A,B", "alert show Second||C", "alert press 0|A",
                                 "test delegate First 0 A", "alert show Third||D", "alert press 0|C",
                                 "alert press 0|D"}));
    EXPECT_TRUE(app->alerts().empty());
}

TEST_F(AlertViewTest, TheSystemCancelsAnAlertOnScreenOrWaiting) {
    auto first = alert("First", {"A"});
    auto second = alert("Second", {"B"});
    auto third = alert("Third", {"C"});
    for (const auto& a : {first, second, third}) a->show();
    EXPECT_TRUE(second->cancel());  // waiting: it never shows
    EXPECT_TRUE(first->cancel());
    EXPECT_TRUE(third->isVisible());
    EXPECT_FALSE(first->cancel());  // gone
    EXPECT_EQ(log.take(), (Lines{"alert show First||A", "alert show Second||B", "alert show Third||C",
                                 "alert cancel Second", "test delegate Second cancel", "alert cancel First",
                                 "test delegate First cancel"}));
    EXPECT_EQ(app->alerts(), (std::vector{third}));
}

}  // namespace
