// The contract's pool and the rotating base view's transitions, on the virtual clock.
#include <gtest/gtest.h>

#include <functional>

#include "orbad/ads/OrbadTransionableAdView.h"
#include "orbad/tests/OrbadCreativeTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"

namespace {

using orbad::OrbadTransionableAdView;
using plat::ui::Rect;
using plat::ui::View;

// A reusable view of a class of its own naming, noting its resets.
struct PooledView : OrbadTransionableAdView {
    PooledView(const char* name, bool reusable) : OrbadTransionableAdView({0, 0, 320, 50}), name(name), reusable(reusable) {}
    const char* className() const override { return name; }
    bool canBeReused() const override { return reusable; }
    void prepareForReuse() override {
        ++prepared;
        if (duringReset) duringReset();
    }
    const char* name;
    bool reusable;
    int prepared = 0;
    std::function<void()> duringReset;
};

TEST(OrbadAdsViewPool, KeepsOneReusableViewPerClassUntilAMemoryWarning) {
    orbad::OrbadAdsViewPool pool;
    auto a1 = std::make_shared<PooledView>("A", true), a2 = std::make_shared<PooledView>("A", true);
    auto b = std::make_shared<PooledView>("B", true), never = std::make_shared<PooledView>("C", false);
    for (const auto& view : {a1, a2, b, never}) pool.queueReusableAdView(view);
    EXPECT_EQ(pool.waitingCount(), 2u);
    EXPECT_EQ(a1->prepared, 1);
    EXPECT_EQ(a2->prepared, 0) << "a second view of a class is not kept";
    EXPECT_EQ(never->prepared, 0);
    EXPECT_EQ(pool.dequeueReusableAdViewWithClass("C"), nullptr);
    EXPECT_EQ(pool.dequeueReusableAdViewWithClass("A"), a1);
    EXPECT_EQ(pool.dequeueReusableAdViewWithClass("A"), nullptr);
    pool.queueReusableAdView(a2);
    EXPECT_EQ(a2->prepared, 1) << "an empty array takes the next one";
    plat::foundation::NotificationCenter::defaultCenter().post(plat::ui::kApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(pool.waitingCount(), 0u);
    EXPECT_EQ(pool.dequeueReusableAdViewWithClass("B"), nullptr);
}

// The mended fault: the reset ran under the pool's lock, so a memory warning during it deadlocked.
TEST(OrbadAdsViewPool, AViewsResetMayReachThePool) {
    orbad::OrbadAdsViewPool pool;
    auto view = std::make_shared<PooledView>("A", true);
    view->duringReset = [&] {
        plat::foundation::NotificationCenter::defaultCenter().post(
            plat::ui::kApplicationDidReceiveMemoryWarningNotification);
    };
    pool.queueReusableAdView(view);
    EXPECT_EQ(view->prepared, 1);
    EXPECT_EQ(pool.dequeueReusableAdViewWithClass("A"), view);
}

class TransitionTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        view = std::make_shared<OrbadTransionableAdView>(Rect{0, 0, 320, 50});
        old = item(320, 50);
        view->addSubview(old);
        view->setLastAdView(old);
    }
    static std::shared_ptr<View> item(double w, double h) { return std::make_shared<View>(Rect{0, 0, w, h}); }
    std::shared_ptr<OrbadTransionableAdView> view;
    std::shared_ptr<View> old;
};

TEST_F(TransitionTest, AnImmediateSwitchLeavesOnlyTheNewItem) {
    for (int code : {0, 10, -1}) {
        view->addSubview(item(10, 10));
        auto next = item(320, 50);
        view->transitionToAdView(next, code);
        ASSERT_EQ(view->subviews().size(), 1u) << code;
        EXPECT_EQ(view->subviews()[0], next);
    }
}

TEST_F(TransitionTest, ASlideLeftStartsOffTheRightEdgeAndEndsCentredOnWholePoints) {
    auto next = item(100, 40);
    view->transitionToAdView(next, orbad::kOrbadTransitionSlideLeft);
    EXPECT_EQ(next->presentationFrame().x, 320);
    EXPECT_EQ(next->presentationFrame().y, 5);
    EXPECT_EQ(next->frame().x, 110);
    EXPECT_EQ(old->frame().x, -320);
    dktest::turn(0.19);
    EXPECT_EQ(old->superview(), view.get()) << "the old item stays while it moves";
    dktest::turn(0.02);
    EXPECT_EQ(old->superview(), nullptr);
    EXPECT_EQ(view->lastAdView(), nullptr);
    EXPECT_EQ(next->presentationFrame().x, 110);
    EXPECT_EQ(next->presentationFrame().y, 5);
}

TEST_F(TransitionTest, AFadeBringsTheNewItemInAboveTheOld) {
    auto next = item(320, 50);
    view->transitionToAdView(next, orbad::kOrbadTransitionFade);
    ASSERT_EQ(view->subviews().size(), 2u);
    EXPECT_EQ(view->subviews()[1], next);
    EXPECT_NEAR(next->presentationAlpha(), 0, 1e-9);
    EXPECT_EQ(next->alpha(), 1);
    dktest::turn(0.1);
    EXPECT_GT(next->presentationAlpha(), 0);
    EXPECT_LT(next->presentationAlpha(), 1);
    dktest::turn(0.15);
    EXPECT_EQ(view->subviews(), std::vector<std::shared_ptr<View>>{next});
}

TEST_F(TransitionTest, FlipsAndCurlsLastSixTenthsOfASecond) {
    for (int code : {5, 6, 7, 8}) {
        auto next = item(320, 50);
        view->transitionToAdView(next, code);
        ASSERT_EQ(view->subviews().size(), 2u);
        EXPECT_EQ(view->subviews()[1], next) << "the new item takes the old one's place on top";
        dktest::turn(0.59);
        EXPECT_EQ(view->subviews().size(), 2u) << code;
        dktest::turn(0.02);
        EXPECT_EQ(view->subviews(), std::vector<std::shared_ptr<View>>{next}) << code;
        EXPECT_EQ(view->layerTransform(), plat::ui::LayerTransform{});
        view->setLastAdView(next);
    }
}

// The mended fault: the first flip's end took out lastAdView as it was then (the second's
// outgoing item), and the first's own outgoing item stayed for ever.
TEST_F(TransitionTest, OverlappingTransitionsEachRemoveTheirOwnOutgoingItem) {
    for (int code : {orbad::kOrbadTransitionFlipLeft, orbad::kOrbadTransitionSlideUp}) {
        auto second = item(320, 50), third = item(320, 50);
        view->transitionToAdView(second, code);
        dktest::turn(0.1);
        view->setLastAdView(second);
        view->transitionToAdView(third, code);
        dktest::turn(2);
        EXPECT_EQ(view->subviews(), std::vector<std::shared_ptr<View>>{third}) << code;
        view->setLastAdView(third);
    }
}

TEST_F(TransitionTest, ATapDuringATransitionOpensTheActionOnce) {
    struct WithAd : OrbadTransionableAdView {
        WithAd() : OrbadTransionableAdView({0, 0, 320, 50}) {}
        std::shared_ptr<orbad::OrbadAd> currentAd() const override { return ad; }
        std::shared_ptr<orbad::OrbadAd> ad = dktest::adFrom(R"({"id":"t1","type":"banner"})");
    };
    auto host = std::make_shared<dktest::NotingHost>();
    auto tapped = std::make_shared<WithAd>();
    tapped->setMainAdView(host);
    tapped->addSubview(old);
    tapped->setLastAdView(old);
    auto next = item(320, 50);
    next->setUserInteractionEnabled(false);
    tapped->transitionToAdView(next, orbad::kOrbadTransitionFade);
    old->setUserInteractionEnabled(false);
    View* hit = tapped->hitTest({160, 25}, nullptr);
    ASSERT_EQ(hit, tapped.get());
    static_cast<plat::ui::Button*>(hit)->sendActions();
    EXPECT_EQ(host->lines, std::vector<std::string>{"action t1"});
}

}  // namespace
