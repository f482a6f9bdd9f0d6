// Animations on the virtual clock: the values shown at chosen times, the ends, and what is traced.
#include <gtest/gtest.h>

#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;
using plat::foundation::Clock;
using plat::foundation::RunLoop;

constexpr double kTurn = 2 * std::numbers::pi;

BasicAnimation spin(double duration, double repeat) {
    BasicAnimation a;
    a.keyPath = "transform.rotation.z";
    a.by = kTurn;
    a.duration = duration;
    a.repeatCount = repeat;
    return a;
}

class AnimationTest : public ::testing::Test {
protected:
    void SetUp() override { Clock::process().setVirtual(true); }
    // Runs the loop to `time` seconds after the test began.
    void at(double time) { loop.runFor(time - (loop.now() - m_start)); }

    RunLoop loop{std::make_shared<Clock>(Clock::Kind::Virtual)};
    Application app{nullptr, &loop};
    TraceLog log;
    std::shared_ptr<View> view = std::make_shared<View>(Rect{0, 0, 100, 100});

private:
    double m_start = loop.now();
};

TEST_F(AnimationTest, ViewBlocksShowTheCurveAtEachTimeWhileTheModelIsFinal) {
    // Plain text rather than ViewAnimationOptions: GCC 12 at -O3 misreads a std::string member of an
    // aggregate array as maybe uninitialized.
    struct Options {
        const char* name;
        double duration = kDefaultViewAnimationDuration;
        AnimationCurve curve = AnimationCurve::EaseInOut;
    };
    const struct {
        const char* what;
        double alphaBefore;
        Options options;
        std::function<void(View&)> change;
        std::function<double(const View&)> shown;
        std::vector<std::pair<double, double>> values;  // (time, value)
    } cases[] = {
        {"linear alpha", 1, {"fade", 1, AnimationCurve::Linear}, [](View& v) { v.setAlpha(0); },
         [](const View& v) { return v.presentationAlpha(); }, {{0, 1}, {0.25, 0.75}, {0.5, 0.5}, {0.999, 0.001}, {1, 0}}},
        // The platform's ease-in-out, (0.42, 0) (0.58, 1): 0.129 of the way at a quarter of the time.
        {"ease-in-out layer opacity by default", 0, {"fadeIn"}, [](View& v) { v.setLayerOpacity(1); },
         [](const View& v) { return v.presentationAlpha(); }, {{0.05, 0.1291}, {0.1, 0.5}, {0.15, 0.8709}, {0.2, 1}}},
        {"frame: the centre", 1, {"move", 1, AnimationCurve::Linear}, [](View& v) { v.setFrame({100, 200, 200, 100}); },
         [](const View& v) { return v.presentationFrame().x + v.presentationFrame().width / 2; },
         {{0, 50}, {0.5, 125}, {1, 200}}},
        {"frame: the size", 1, {"grow", 1, AnimationCurve::Linear}, [](View& v) { v.setFrame({100, 200, 200, 100}); },
         [](const View& v) { return v.presentationFrame().width; }, {{0.25, 125}, {1, 200}}},
        // Ease-in (0.42, 0) (1, 1) and ease-out (0, 0) (0.58, 1) mirror each other.
        {"ease-in", 1, {"in", 1, AnimationCurve::EaseIn}, [](View& v) { v.setAlpha(0); },
         [](const View& v) { return 1 - v.presentationAlpha(); }, {{0.25, 0.0935}, {0.5, 0.3154}, {0.75, 0.6219}}},
        {"ease-out", 1, {"out", 1, AnimationCurve::EaseOut}, [](View& v) { v.setAlpha(0); },
         [](const View& v) { return 1 - v.presentationAlpha(); }, {{0.25, 0.3781}, {0.5, 0.6846}, {0.75, 0.9065}}},
        {"layer transform: the translation", 1, {"slide", 1, AnimationCurve::Linear},
         [](View& v) { v.setLayerTransform({0, 1, 1, 0, 480}); },
         [](const View& v) { return v.presentationTransform().ty; }, {{0, 0}, {0.25, 120}, {1, 480}}},
        {"layer transform: the scale", 1, {"bounce", 1, AnimationCurve::Linear},
         [](View& v) { v.setLayerTransform({0, 1.1, 1.1}); },
         [](const View& v) { return v.presentationTransform().scaleY; }, {{0.5, 1.05}, {1, 1.1}}},
        {"layer transform: the rotation", 1, {"turn", 1, AnimationCurve::Linear},
         [](View& v) { v.setLayerTransform({std::numbers::pi}); },
         [](const View& v) { return v.presentationRotation(); }, {{0.5, std::numbers::pi / 2}}},
    };
    for (const auto& c : cases) {
        view = std::make_shared<View>(Rect{0, 0, 100, 100});
        view->setAlpha(c.alphaBefore);
        const double start = loop.now();
        View::animate({c.options.name, c.options.duration, c.options.curve}, [&] { c.change(*view); });
        for (const auto& [time, value] : c.values) {
            loop.runFor(start + time - loop.now());
            EXPECT_NEAR(c.shown(*view), value, 1e-3) << c.what << " at " << time;
        }
        loop.runFor(1);
        EXPECT_TRUE(view->animationKeys().empty()) << c.what;
    }
}

TEST_F(AnimationTest, BlocksCompleteOnceToldWhetherTheyFinished) {
    std::vector<std::string> told;
    const auto completion = [&](const char* name) {
        return [&told, name](bool finished) { told.push_back(std::string(name) + (finished ? " finished" : " cut")); };
    };
    View::animate({"fadeInGameView"}, [&] { view->setLayerOpacity(0.5); }, completion("first"));
    EXPECT_EQ(view->alpha(), 0.5) << "the model at once";
    EXPECT_EQ(view->animationKeys(), std::vector<std::string>{"opacity"});
    at(0.1);
    View::animate({"again", 0.2}, [&] { view->setFrame({1, 1, 100, 100}); }, completion("second"));
    View::animate({"replace", 0.2}, [&] { view->setAlpha(0); }, completion("third"));
    auto other = std::make_shared<View>();
    View::animate({"nothing"}, [&] { other->setAlpha(1); }, completion("empty"));
    at(0.1 + 1e-6);
    EXPECT_EQ(told, (std::vector<std::string>{"first cut", "empty finished"}));
    at(1);
    EXPECT_EQ(told, (std::vector<std::string>{"first cut", "empty finished", "second finished", "third finished"}));
    EXPECT_EQ(log.take(), (Lines{"ui animation fadeInGameView begin", "ui animation again begin",
                                 "ui animation replace begin", "ui animation nothing begin", "ui animation fadeInGameView end",
                                 "ui animation nothing end", "ui animation again end", "ui animation replace end"}));
}

TEST_F(AnimationTest, LayerAnimationsTurnRepeatAndAreRemoved) {
    auto spinner = std::make_shared<View>(Rect{1, 1, 37, 37});
    ASSERT_TRUE(spinner->addAnimation(spin(2, kRepeatForever), "rotationAnimation"));
    auto twice = std::make_shared<View>();
    ASSERT_TRUE(twice->addAnimation(spin(1, 2), "twice"));
    BasicAnimation fromTo;
    fromTo.keyPath = "opacity";
    fromTo.from = 0.2;
    fromTo.to = 0.6;
    auto faded = std::make_shared<View>();
    ASSERT_TRUE(faded->addAnimation(fromTo, "fade"));
    BasicAnimation unknown;
    unknown.keyPath = "bounds.size";
    EXPECT_FALSE(faded->addAnimation(unknown, "unknown"));

    at(0.125);
    EXPECT_NEAR(faded->presentationAlpha(), 0.4, 1e-9) << "from 0.2 to 0.6 in the default 0.25 s";
    at(0.5);
    EXPECT_NEAR(spinner->presentationRotation(), kTurn / 4, 1e-9);
    EXPECT_NEAR(twice->presentationRotation(), kTurn / 2, 1e-9);
    EXPECT_EQ(faded->presentationAlpha(), 1) << "over: the model shows";
    at(1.5);
    EXPECT_NEAR(twice->presentationRotation(), kTurn / 2, 1e-9) << "its second pass";
    at(2.5);
    EXPECT_EQ(twice->presentationRotation(), 0);
    EXPECT_TRUE(twice->animationKeys().empty());
    at(1001);
    EXPECT_NEAR(spinner->presentationRotation(), kTurn / 2, 1e-6) << "for ever";
    EXPECT_EQ(spinner->animationKeys(), std::vector<std::string>{"rotationAnimation"});

    // Everything goes, a block's animations too, which then end unfinished.
    std::vector<bool> finished;
    View::animate({"slide", 1}, [&] { spinner->setFrame({50, 50, 37, 37}); }, [&](bool f) { finished.push_back(f); });
    EXPECT_EQ(spinner->animationKeys(), (std::vector<std::string>{"rotationAnimation", "position"}));
    spinner->removeAllAnimations();
    EXPECT_EQ(spinner->presentationRotation(), 0);
    EXPECT_EQ(spinner->presentationFrame(), (Rect{50, 50, 37, 37}));
    EXPECT_TRUE(spinner->animationKeys().empty());
    at(1002);
    EXPECT_EQ(finished, std::vector<bool>{false});
    EXPECT_EQ(log.take(), (Lines{"ui animation rotationAnimation begin", "ui animation twice begin", "ui animation fade begin",
                                 "ui animation fade end", "ui animation twice end", "ui animation slide begin",
                                 "ui animation rotationAnimation end", "ui animation slide end"}));
}

TEST_F(AnimationTest, TheActivityIndicatorTurnsWhileAnimatingAndHidesWhenStopped) {
    ActivityIndicator indicator(ActivityIndicatorStyle::WhiteLarge);
    EXPECT_EQ(indicator.frame(), (Rect{0, 0, 37, 37}));
    EXPECT_TRUE(indicator.isHidden());
    indicator.startAnimating();
    EXPECT_FALSE(indicator.isHidden());
    at(0.25);
    EXPECT_NEAR(indicator.presentationRotation(), kTurn / 4, 1e-9);
    indicator.stopAnimating();
    EXPECT_TRUE(indicator.isHidden());
    EXPECT_TRUE(indicator.animationKeys().empty());
}

}  // namespace
