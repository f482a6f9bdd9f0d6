// The icon switcher: its frames on the phone and the tablet, pages and the icons it reports, its
// touches, its two timers on the virtual clock, and icons arriving from another thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "platform/foundation/LocalServices.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Button.h"
#include "platform/ui/GradientLayer.h"
#include "player/tests/PromoTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace dktest;
using plat::ui::Rect;

std::string text(const Rect& r) {
    char out[96];
    std::snprintf(out, sizeof out, "%g %g %g %g", r.x, r.y, r.width, r.height);
    return out;
}

class IconSwitcher : public StripTest {
protected:
    // A strip of `count` items presented, what it reported on the way taken.
    std::shared_ptr<DKIconSwitcherViewController> present(size_t count, double automatic = 0) {
        strip = DKIconSwitcherViewController::create(makeItems(count));
        strip->setIconSwitcherDelegate(recorder);
        strip->setIntervalForDismissalButton(1.0);
        strip->setIntervalForAutomaticDismissal(automatic);
        strip->presentWithStyle(1);
        return strip;
    }
    // "page N": the content offset at page N, then the end of deceleration; "offset F": F page
    // widths; "rotate O": the device turned to O.
    void step(const std::string& command) {
        const double value = std::stod(command.substr(command.find(' ') + 1));
        if (command.starts_with("rotate")) {
            plat::sys::Device::current().setOrientation(static_cast<int>(value));
            return;
        }
        plat::ui::ScrollView& scroll = *strip->scrollView();
        scroll.setContentOffset({value * scroll.bounds().width, 0});
        strip->scrollViewDidEndDecelerating(scroll);
    }

    std::shared_ptr<StripRecorder> recorder = std::make_shared<StripRecorder>();
    std::shared_ptr<DKIconSwitcherViewController> strip;
};

TEST_F(IconSwitcher, FramesOnThePhoneAndTheTablet) {
    const struct {
        const char* device;
        std::string bar, dimmed, close, scroll, content, tile, button, caption, gloss;
    } cases[] = {
        {"phone", "0 385 320 95", "0 0 320 385", "300 375 20 20", "0 1 320 94", "960 94", "80 0 80 95",
         "11.5 16 57 57", "0 73 80 20", "-10 -57 77 85.5"},
        {"tablet", "0 907 768 117", "0 0 768 907", "748 897 20 20", "0 1 768 116", "1536 116", "128 0 128 117",
         "28 18 72 72", "0 90 128 20", "-10 -72 92 108"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        launch(c.device);
        present(9);
        runFor(0.5);
        EXPECT_EQ(text(strip->view()->frame()), text(app->interfaceBounds()));
        EXPECT_EQ(text(strip->bar()->frame()), c.bar);
        EXPECT_EQ(text(strip->bar()->presentationFrame()), c.bar);
        EXPECT_EQ(text(strip->dimmedArea()->frame()), c.dimmed);
        EXPECT_EQ(text(strip->closeButton()->frame()), c.close);
        EXPECT_EQ(text(strip->scrollView()->frame()), c.scroll);
        const plat::ui::Size content = strip->scrollView()->contentSize();
        EXPECT_EQ(text({0, 0, content.width, content.height}).substr(4), c.content);
        plat::ui::Button* button = strip->iconButton(1);
        ASSERT_TRUE(button);
        EXPECT_EQ(text(button->superview()->frame()), c.tile);
        EXPECT_EQ(text(button->frame()), c.button);
        EXPECT_EQ(text(button->superview()->subviews()[1]->frame()), c.caption);
        EXPECT_EQ(text(button->subviews().back()->frame()), c.gloss);
        EXPECT_TRUE(dynamic_cast<plat::ui::GradientLayer*>(button->subviews().back().get()));
        EXPECT_EQ(text(button->subviews().front()->frame()), text(button->bounds()));  // the spinner
        strip.reset();
        TearDown();
    }
}

TEST_F(IconSwitcher, PagesReportTheIconsThatCameIntoView) {
    const struct {
        const char* name;
        size_t items;
        std::vector<std::pair<std::string, std::vector<std::string>>> steps;  // after presenting: {}
        std::vector<std::string> first;
    } cases[] = {
        {"nine", 9, {{"page 1", {"shown 4-7 page 1"}}, {"page 2", {"shown 8 page 2"}}, {"page 2", {}}},
         {"shown 0-3 page 0"}},
        {"three", 3, {{"page 0", {}}}, {}},
        {"twenty, turned on page 1", 20, {{"page 1", {"shown 4-7 page 1"}}, {"rotate 3", {"shown 8-9 page 1"}}},
         {"shown 0-3 page 0"}},
        {"1.4 page widths", 9, {{"offset 1.4", {"shown 4-7 page 1"}}}, {"shown 0-3 page 0"}},
        {"1.5 page widths", 9, {{"offset 1.5", {"shown 8 page 2"}}}, {"shown 0-3 page 0"}},
        // A page past the items reports nothing.
        {"past the end", 9, {{"page 5", {}}, {"page 1", {"shown 4-7 page 1"}}}, {"shown 0-3 page 0"}},
        // Offsets whose page times four wraps round, or overflows the page number itself.
        {"far past the end", 9, {{"page 1073741824", {}}, {"page 1e30", {}}, {"page 1", {"shown 4-7 page 1"}}},
         {"shown 0-3 page 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        launch("phone");
        present(c.items);
        EXPECT_EQ(recorder->take(), c.first);
        for (const auto& [command, expected] : c.steps) {
            SCOPED_TRACE(command);
            step(command);
            EXPECT_EQ(recorder->take(), expected);
        }
        strip.reset();
        TearDown();
    }
}

TEST_F(IconSwitcher, TurningKeepsThePageAndLaysOutForLandscape) {
    launch("phone");
    present(20);
    step("page 1");
    step("rotate 3");
    EXPECT_EQ(strip->iconsPerPage(), 5u);
    EXPECT_EQ(strip->currentPage(), 1u);
    EXPECT_EQ(text(strip->bar()->frame()), "0 225 480 95");
    EXPECT_EQ(strip->scrollView()->contentOffset().x, 480);
    EXPECT_EQ(text(strip->iconButton(5)->superview()->frame()), "480 0 96 95");
}

// The input script's page and slot must be numbers the strip has: anything else is ignored
// rather than read as page or slot 0 (or a slot cut to 32 bits).
TEST_F(IconSwitcher, InputCommandsIgnoreWhatIsNoPageOrSlot) {
    launch("phone");
    DKIconSwitcherViewController::registerInputCommands();
    present(9);
    const struct {
        const char* command;
        const char* argument;
        bool acts;
    } cases[] = {
        {"promo.tap", "2", true},   {"promo.tap", "x", false},   {"promo.tap", "2x", false},
        {"promo.tap", "4294967298", false}, {"promo.tap", "-1", false}, {"promo.page", "1", true},
        {"promo.page", "x", false}, {"promo.page", "nan", false}, {"promo.page", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<bool>(plat::foundation::serviceCommandAction(c.command, {c.argument})), c.acts)
            << c.command << " " << c.argument;
}

TEST_F(IconSwitcher, TouchesDragPagesTapIconsAndTheDimmedAreaCloses) {
    launch("phone");
    present(9);
    runFor(0.5);
    recorder->take();
    // A drag that starts on an icon pages and taps nothing.
    touch({40, 430}, plat::ui::Point{-200, 430});
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"shown 4-7 page 1"});
    touch({120, 430});
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"tap 5 page 1 Game 5"});
    touch({160, 100});
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"dismiss 1"});
    EXPECT_FALSE(strip->isOnScreen());
    EXPECT_FALSE(strip->view()->superview());
    EXPECT_FALSE(strip->parentViewController());
}

TEST_F(IconSwitcher, TheCloseButtonWaitsFiveSecondsAndATimeOutDismissesOnce) {
    launch("phone");
    present(3, 8.0);
    runFor(4.99);
    EXPECT_TRUE(strip->closeButton()->isHidden());
    EXPECT_EQ(strip->intervalForDismissalButton(), 5.0);
    runFor(0.02);
    EXPECT_FALSE(strip->closeButton()->isHidden());
    runFor(3.0);
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"dismiss 2"});

    // Closed before its time-out: the timer, when it would have fired, does nothing.
    present(3, 8.0);
    runFor(6.0);
    strip->closeButton()->sendActions();
    runFor(10.0);
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"dismiss 0"});
}

TEST_F(IconSwitcher, AnIconFromAnotherThreadReplacesTheSpinnerOnTheMainThread) {
    launch("phone");
    TempDir dir;
    ASSERT_TRUE(plat::image::writePNG(dir.file("icon.png"), 2, 2, std::vector<uint8_t>(16, 255), nullptr));
    std::shared_ptr<plat::ui::Image> icon = plat::ui::Image::fromFile(dir.file("icon.png"));
    present(3);
    plat::ui::Button* button = strip->iconButton(1);
    std::thread([&] { strip->setImage(icon, 1); }).join();
    EXPECT_TRUE(dynamic_cast<plat::ui::ActivityIndicator*>(button->subviews().front().get()));
    runFor(0);
    EXPECT_EQ(button->backgroundImage(), icon);
    EXPECT_EQ(strip->items()[1]->image, icon);
    EXPECT_FALSE(dynamic_cast<plat::ui::ActivityIndicator*>(button->subviews().front().get()));
    EXPECT_TRUE(strip->iconButton(0)->subviews().size() == 2);  // the others still wait
}

// A text in the first two slots of a phone's row: items sit, report, tap and take their icons by
// their slot, two past their index.
TEST_F(IconSwitcher, AFeatureTextTakesTheFirstSlots) {
    launch("phone");
    strip = DKIconSwitcherViewController::create(makeItems(5));
    strip->setIconSwitcherDelegate(recorder);
    strip->setFeatureTextIconSpan(2);
    strip->setFeatureText("New games");
    strip->presentWithStyle(1);
    runFor(0.5);
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"shown 2-3 page 0"});
    EXPECT_EQ(strip->textLabel()->text(), "New games");
    EXPECT_EQ(text(strip->textLabel()->frame()), "20 0 140 95");
    EXPECT_EQ(strip->textLabel()->numberOfLines(), 2);
    EXPECT_FALSE(strip->textLabel()->adjustsFontSizeToFitWidth());
    EXPECT_FALSE(strip->iconButton(1));
    ASSERT_TRUE(strip->iconButton(2));
    EXPECT_EQ(text(strip->iconButton(2)->superview()->frame()), "160 0 80 95");
    EXPECT_EQ(text(strip->iconButton(6)->superview()->frame()), "480 0 80 95");
    const plat::ui::Size content = strip->scrollView()->contentSize();
    EXPECT_EQ(content.width, 640);  // seven slots: two pages

    step("page 1");
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"shown 4-6 page 1"});
    strip->iconButton(3)->sendActions();
    EXPECT_EQ(recorder->take(), std::vector<std::string>{"tap 3 page 1 Game 1"});

    TempDir dir;
    ASSERT_TRUE(plat::image::writePNG(dir.file("icon.png"), 2, 2, std::vector<uint8_t>(16, 255), nullptr));
    std::shared_ptr<plat::ui::Image> icon = plat::ui::Image::fromFile(dir.file("icon.png"));
    strip->setImage(icon, 0);
    EXPECT_EQ(strip->iconButton(2)->backgroundImage(), icon);
    EXPECT_EQ(strip->items()[0]->image, icon);

    // Without a text the label is empty and takes no room.
    strip->setFeatureText(std::nullopt);
    EXPECT_EQ(strip->textLabel()->text(), "");
    EXPECT_EQ(text(strip->textLabel()->frame()), "0 0 0 0");
}

// The desktop's handler: takes what it is told to.
struct Desktop : plat::ui::SystemServices {
    bool takes = true;
    std::vector<std::string> opened;
    void setIdleTimerDisabled(bool) override {}
    bool openURL(const std::string& url) override {
        if (takes) opened.push_back(url);
        return takes;
    }
};

// The strip is its own delegate until another is set, and answers none of the delegate's
// operations: a tap opens nothing. Its own two-argument handler opens what the system can open,
// and says so once when the opening fails.
TEST_F(IconSwitcher, ItsOwnTapHandlerOpensWhatTheSystemCan) {
    launch("phone");
    Desktop desktop;
    app->setSystemServices(&desktop);
    strip = DKIconSwitcherViewController::create(makeItems(3));
    EXPECT_EQ(strip->iconSwitcherDelegate().get(), static_cast<DKIconSwitcherViewControllerDelegate*>(strip.get()));
    strip->presentWithStyle(1);
    strip->iconButton(1)->sendActions();
    EXPECT_TRUE(app->openedURLs().empty());

    const struct {
        const char* url;
        bool takes;
        std::vector<std::string> opened;
        const char* logged;
    } cases[] = {
        {"http://games.test/1", true, {"http://games.test/1"}, ""},
        {"itms-apps://store/2", true, {}, ""},  // no handler the system knows: not tried
        {"http://games.test/3", false, {}, "open: the desktop did not open http://games.test/3\nCould not open URL.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        desktop.takes = c.takes;
        desktop.opened.clear();
        DKIconSwitcherItem item;
        item.targetURL = c.url;
        testing::internal::CaptureStderr();
        strip->iconSwitcher(*strip, item);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.logged);
        EXPECT_EQ(desktop.opened, c.opened);
    }
    DKIconSwitcherItem none;
    strip->iconSwitcher(*strip, none);  // no URL: nothing
    EXPECT_TRUE(desktop.opened.empty());
    app->setSystemServices(nullptr);
}

}  // namespace
