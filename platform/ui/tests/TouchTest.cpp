// Touches: one object per finger, sent to the view hit where it began, in phase sets; the
// multiple-touch rule; every began touch ends or cancels once, also when the application resigns.
#include <gtest/gtest.h>

#include <map>
#include <numbers>
#include <sstream>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Button.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;

// Names each touch it is sent by the order it first saw it ("a", "b", ...), kept for the test.
struct TouchNames {
    std::map<const Touch*, std::string> names;
    std::vector<std::shared_ptr<Touch>> kept;  // no address is reused while the test looks
    std::string operator()(const TouchSet& touches) {
        std::string out;
        for (const auto& t : touches) {
            auto [it, added] = names.emplace(t.get(), std::string(1, static_cast<char>('a' + names.size())));
            if (added) kept.push_back(t);
            out += (out.empty() ? "" : ",") + it->second;
        }
        return out;
    }
};

struct NotingView : View {
    NotingView(std::string name, Rect frame, TouchNames& names) : View(frame), name(std::move(name)), names(names) {}
    std::string name;
    TouchNames& names;
    void noteTouches(const char* phase, const TouchSet& touches, const Event& event) {
        std::string text = name + " " + phase + " " + names(touches);
        const Touch& first = *touches.front();
        Point p = first.locationInView(this);
        std::ostringstream where;
        where << " at " << p.x << "," << p.y << " of " << event.allTouches().size();
        note(text + where.str());
    }
    void touchesBegan(const TouchSet& t, const Event& e) override { noteTouches("began", t, e); }
    void touchesMoved(const TouchSet& t, const Event& e) override { noteTouches("moved", t, e); }
    void touchesEnded(const TouchSet& t, const Event& e) override { noteTouches("ended", t, e); }
    void touchesCancelled(const TouchSet& t, const Event& e) override { noteTouches("cancelled", t, e); }
};

// "down 1 10 10 ; up 2" as the driver's inputs.
std::vector<TouchInput> inputs(const std::string& text) {
    std::vector<TouchInput> out;
    std::istringstream all(text);
    std::string part;
    while (std::getline(all, part, ';')) {
        std::istringstream in(part);
        std::string phase;
        TouchInput input{TouchPhase::Began, 0, std::nullopt};
        in >> phase >> input.id;
        input.phase = phase == "down"   ? TouchPhase::Began
                      : phase == "move" ? TouchPhase::Moved
                      : phase == "up"   ? TouchPhase::Ended
                                        : TouchPhase::Cancelled;
        Point p;
        if (in >> p.x >> p.y) input.location = p;
        out.push_back(input);
    }
    return out;
}

class TouchTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::sys::Device::current().reset();
        auto delegate = std::make_unique<NotingDelegate>();
        delegate->onLaunch = [this](Application&) {
            auto root = std::make_shared<NotingController>("Root");
            window = showWindow(root);
            left = std::make_shared<NotingView>("left", Rect{0, 0, 160, 240}, names);
            left->setMultipleTouchEnabled(true);
            right = std::make_shared<NotingView>("right", Rect{160, 0, 160, 240}, names);
            root->view()->addSubview(left);
            root->view()->addSubview(right);
        };
        app = std::make_unique<Application>(std::move(delegate), &loop);
        app->launch();
        log.take();
    }
    void TearDown() override { app.reset(); }

    TouchNames names;
    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    TraceLog log;
    std::shared_ptr<Window> window;
    std::shared_ptr<NotingView> left, right;
    std::unique_ptr<Application> app;
};

TEST_F(TouchTest, FingersKeepTheirTouchAndTheirViewFromDownToUp) {
    const struct {
        const char* event;
        bool applied;
        Lines lines;
    } steps[] = {
        {"down 1 10 10 ; down 2 20 20", true, {"test left began a,b at 10,10 of 2"}},
        {"move 1 300 10", true, {"test left moved a at 300,10 of 2"}},  // still left's, out of it
        // right takes one touch at a time: the second finger is never sent to it
        {"down 3 200 10 ; down 4 210 10", true, {"test right began c at 40,10 of 4"}},
        {"move 4 220 10 ; up 3", true, {"test right ended c at 40,10 of 4"}},
        {"down 5 200 30", true, {"test right began d at 40,30 of 4"}},
        {"up 2 ; cancel 5 ; up 1 25 25", true,
         {"test left ended b,a at 20,20 of 4", "test right cancelled d at 40,30 of 4"}},
        {"up 1 ; move 3 1 1 ; down 4 1 1", false, {}},  // unknown fingers, and one still down
        {"up 4", true, {}},  // the refused finger ends unseen
        {"move 9 1 1 ; down 6 500 500", true, {}},  // outside the window: nobody is hit
        {"up 6", true, {}},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(app->injectTouches(inputs(s.event)), s.applied) << s.event;
        EXPECT_EQ(log.take(), s.lines) << s.event;
    }
    EXPECT_EQ(app->touchCount(), 0u);
}

TEST_F(TouchTest, AFingerChangingTwiceInOneEventMakesTwoEvents) {
    EXPECT_TRUE(app->injectTouches(inputs("down 1 10 10 ; move 1 12 12 ; up 1 14 14")));
    EXPECT_EQ(log.take(), (Lines{"test left began a at 10,10 of 1", "test left moved a at 12,12 of 1",
                                 "test left ended a at 14,14 of 1"}));
}

TEST_F(TouchTest, TouchesDownAreCancelledBeforeTheApplicationResigns) {
    app->injectTouches(inputs("down 1 10 10 ; down 2 200 10"));
    log.take();
    EXPECT_TRUE(app->resignActive());
    const Lines cancelled{"test left cancelled a at 10,10 of 2", "test right cancelled b at 40,10 of 2"};
    EXPECT_EQ(log.take(), cancelled + transitionLines("willResignActive"));
    EXPECT_FALSE(app->injectTouches(inputs("down 3 10 10")));  // not while inactive
    app->becomeActive();
    log.take();
    EXPECT_FALSE(app->injectTouches(inputs("up 1 ; up 2")));  // cancelled fingers are gone
    EXPECT_TRUE(app->injectTouches(inputs("down 1 10 10 ; up 1")));
    EXPECT_EQ(log.take(), (Lines{"test left began c at 10,10 of 1", "test left ended c at 10,10 of 1"}));
}

TEST_F(TouchTest, AResignFromAHandlerEndsTheEventItCameIn) {
    struct Resigning : NotingView {
        using NotingView::NotingView;
        void touchesBegan(const TouchSet& t, const Event& e) override {
            NotingView::touchesBegan(t, e);
            Application::shared()->resignActive();
        }
    };
    auto view = std::make_shared<Resigning>("resigning", Rect{0, 300, 320, 100}, names);
    window->addSubview(view);
    EXPECT_TRUE(app->injectTouches(inputs("down 1 10 310 ; move 1 20 310 ; down 2 10 320")));
    const Lines expected = Lines{"test resigning began a at 10,10 of 1", "test resigning cancelled a at 10,10 of 1"} +
                           transitionLines("willResignActive");
    EXPECT_EQ(log.take(), expected);
    EXPECT_EQ(app->touchCount(), 0u);
    // A finger of the same set for another view, not yet sent, is never sent at all.
    app->becomeActive();
    log.take();
    EXPECT_TRUE(app->injectTouches(inputs("down 1 10 310 ; down 2 200 10")));
    const Lines second = Lines{"test resigning began b at 10,10 of 2", "test resigning cancelled b at 10,10 of 2"} +
                         transitionLines("willResignActive");
    EXPECT_EQ(log.take(), second);
}

TEST_F(TouchTest, UnhandledTouchesPassUpToTheSuperviewAndTheController) {
    auto plain = std::make_shared<View>(Rect{10, 10, 20, 20});
    left->addSubview(plain);
    app->injectTouches(inputs("down 1 15 15 ; down 2 100 300"));  // plain, then the root's own view
    EXPECT_EQ(log.take(), (Lines{"test left began a at 15,15 of 2", "test Root touchesBegan"}));
}

TEST_F(TouchTest, ButtonsActWhenATouchThatBeganOnThemEndsInside) {
    auto button = std::make_shared<Button>(Rect{0, 300, 100, 50});
    window->rootViewController()->view()->addSubview(button);
    int acted = 0, second = 0;
    button->addTarget(this, [&](Button&) { ++acted; });
    button->addTarget(&second, [&](Button&) { ++second; });
    const struct {
        const char* event;
        int acted;
    } steps[] = {
        {"down 1 10 310 ; up 1 90 340", 1},
        {"down 1 10 310 ; up 1 150 310", 1},  // dragged out
        {"down 1 10 310 ; cancel 1", 1},
        {"down 1 150 310 ; up 1 10 310", 1},  // began elsewhere
        {"down 1 99 349 ; up 1", 2},
    };
    for (const auto& s : steps) {
        app->injectTouches(inputs(s.event));
        EXPECT_EQ(acted, s.acted) << s.event;
        EXPECT_EQ(second, s.acted) << s.event;
    }
    button->removeTarget(&second);
    app->injectTouches(inputs("down 1 10 310 ; up 1"));
    EXPECT_EQ(acted, 3);
    EXPECT_EQ(second, 2);
}

TEST_F(TouchTest, AButtonIsHighlightedWhileItsTouchIsDownInside) {
    struct Noting : Button {
        using Button::Button;
        std::string changes;
        void setHighlighted(bool on) override {
            Button::setHighlighted(on);
            changes += on ? '+' : '-';
        }
    };
    auto button = std::make_shared<Noting>(Rect{0, 300, 100, 50});
    window->rootViewController()->view()->addSubview(button);
    const struct {
        const char* event;
        bool highlighted;
        const char* changes;
    } steps[] = {
        {"down 1 10 310", true, "+"},
        {"move 1 150 310", false, "+-"},  // dragged out
        {"move 1 160 310", false, "+-"},
        {"move 1 20 320", true, "+-+"},  // and back in
        {"up 1", false, "+-+-"},
        {"down 1 150 310 ; move 1 10 310", false, "+-+-"},  // began elsewhere
        {"up 1 ; down 1 10 310 ; cancel 1", false, "+-+-+-"},
    };
    for (const auto& s : steps) {
        app->injectTouches(inputs(s.event));
        EXPECT_EQ(button->isHighlighted(), s.highlighted) << s.event;
        EXPECT_EQ(button->changes, s.changes) << s.event;
    }
    EXPECT_FALSE(button->isSelected());
    button->setSelected(true);
    app->injectTouches(inputs("down 1 10 310 ; up 1"));
    EXPECT_TRUE(button->isSelected());
}

}  // namespace

namespace {

// A view turned or scaled by its layer is hit where it shows, and its touches arrive in its own
// coordinates: the turned container's top left corner shows at the top right of its box.
TEST_F(TouchTest, TurnedAndScaledLayersAreHitWhereTheyShow) {
    auto box = std::make_shared<View>(Rect{0, 300, 120, 80});  // centre (60, 340)
    auto inner = std::make_shared<NotingView>("inner", Rect{0, 0, 20, 20}, names);
    box->addSubview(inner);
    window->rootViewController()->view()->addSubview(box);
    const struct {
        LayerTransform transform;
        const char* event;
        Lines lines;
    } cases[] = {
        // A quarter clockwise: local (x, y) shows at (60 - (y - 40), 340 + (x - 60)).
        {{std::numbers::pi / 2}, "down 1 95 285 ; up 1", {"test inner began a at 5,5 of 1", "test inner ended a at 5,5 of 1"}},
        {{std::numbers::pi / 2}, "down 1 15 285 ; up 1", {"test Root touchesBegan"}},  // where the corner sat unturned
        // A quarter anticlockwise: local (x, y) shows at (60 + (y - 40), 340 - (x - 60)).
        {{-std::numbers::pi / 2}, "down 1 35 393 ; up 1", {"test inner began b at 7,15 of 1", "test inner ended b at 7,15 of 1"}},
        // A half turn, moved 10 right: local (x, y) shows at (70 - (x - 60), 340 - (y - 40)).
        {{std::numbers::pi, 1, 1, 10, 0}, "down 1 125 375 ; up 1", {"test inner began c at 5,5 of 1", "test inner ended c at 5,5 of 1"}},
        // Halved about the centre: local (x, y) shows at (60 + (x - 60) / 2, 340 + (y - 40) / 2).
        {{0, 0.5, 0.5}, "down 1 35 325 ; up 1", {"test inner began d at 10,10 of 1", "test inner ended d at 10,10 of 1"}},
        {{0, 0, 1}, "down 1 60 340 ; up 1", {"test Root touchesBegan"}},  // flattened: nothing of it is under any point
    };
    for (const auto& c : cases) {
        box->setLayerTransform(c.transform);
        app->injectTouches(inputs(c.event));
        EXPECT_EQ(log.take(), c.lines) << c.event;
    }
    // Conversions go both ways through the turn.
    box->setLayerTransform({std::numbers::pi / 2});
    const Point shown = inner->convertPointToView({5, 5}, nullptr);
    EXPECT_EQ(shown.x, 95);
    EXPECT_EQ(shown.y, 285);
    const Point back = inner->convertPointFromView(shown, nullptr);
    EXPECT_EQ(back.x, 5);
    EXPECT_EQ(back.y, 5);
}

}  // namespace
