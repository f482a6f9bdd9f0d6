// What the road cannot reach of the ad network provider: its time-out as read from the
// Info.plist, a request with no root view controller, and the wrapper's spinner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "player/app/DrovikPlayerAppDelegate.h"
#include "player/plugins/fullscreen/DKFullscreenAdWrapperViewController.h"
#include "player/plugins/fullscreen/DKOrbadFullscreenAdProvider.h"

namespace dktest {
namespace {

using plat::foundation::Value;

TEST(FullscreenAd, TimeoutReadsIntegersRealsAndNumericTextElseZero) {
    const struct Case {
        const char* name;
        Value value;
        unsigned seconds;
    } cases[] = {
        {"integer", Value(3), 3},        {"text", Value("3"), 3},        {"real", Value(2.9), 2},
        {"real text", Value("7.9"), 7},  {"negative", Value(-2), 0},     {"negative text", Value("-2"), 0},
        {"words", Value("soon"), 0},     {"bool", Value(true), 0},       {"array", Value(Value::Array{Value(4)}), 0},
        {"huge", Value(int64_t{1} << 40), 4294967295u},
    };
    for (const Case& c : cases) EXPECT_EQ(DKOrbadFullscreenAdProvider::timeoutFromValue(&c.value), c.seconds) << c.name;
    EXPECT_EQ(DKOrbadFullscreenAdProvider::timeoutFromValue(nullptr), 0u) << "absent";
}

// No window, so no root view controller: the failure comes inside the request, then the dismissal.
TEST(FullscreenAd, WithoutARootViewControllerTheRequestFailsAtOnce) {
    struct Noting : DKFullscreenAdProviderDelegate {
        void adDidDisplay() override { notes.push_back("display"); }
        void adError(const std::string& message) override { notes.push_back(message); }
        void adDismissed() override { notes.push_back("dismissed"); }
        std::vector<std::string> notes;
    } noting;
    auto provider = std::make_shared<DKOrbadFullscreenAdProvider>();
    provider->setDelegate(&noting);
    provider->showFullScreenAd();
    EXPECT_EQ(noting.notes, (std::vector<std::string>{
                                "\u2716 Failed with error: Error Domain=Orbad Code=0 \"Unable to load ad, or ad timed out\"",
                                "dismissed"}));
    EXPECT_FALSE(provider->modalViewController()->presentingViewController());
}

// The spinner sits in the bottom-right corner, its origin rounded up; it turns only once a scene
// change is posted while the wrapper shows, and leaves with it.
TEST(FullscreenAd, WrapperSpinnerSitsInTheCornerAndStartsOnASceneChange) {
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    auto wrapper = std::make_shared<DKFullscreenAdWrapperViewController>();
    wrapper->setView(std::make_shared<plat::ui::View>(plat::ui::Rect{0, 0, 320.5, 480.25}));
    plat::ui::ActivityIndicator& spinner = wrapper->pendingImageView();
    center.post(DKSceneDidChangeNotification);
    wrapper->viewWillAppear(false);
    EXPECT_EQ(spinner.frame(), (plat::ui::Rect{284, 444, 37, 37}));
    EXPECT_EQ(spinner.superview(), wrapper->view().get());
    EXPECT_FALSE(spinner.isAnimating()) << "a change before the wrapper showed";
    center.post(DKSceneDidChangeNotification);
    EXPECT_TRUE(spinner.isAnimating());
    wrapper->viewWillDisappear(false);
    EXPECT_FALSE(spinner.isAnimating());
    EXPECT_EQ(spinner.superview(), nullptr);
    center.post(DKSceneDidChangeNotification);
    EXPECT_FALSE(spinner.isAnimating());
}

}  // namespace
}  // namespace dktest
