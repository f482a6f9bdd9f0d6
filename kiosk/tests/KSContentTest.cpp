// Content units read from answers and the content view's geometry: which answers make a unit,
// frames per orientation, the view turned for each orientation, modal and dialog web frames with
// the status bar on and off.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "kiosk/KSContent.h"
#include "kiosk/KSJsonParser.h"

namespace {

using plat::sys::Rect;

const Rect kAppFrame{0, 0, 320, 480};

KSJsonObject objectFrom(const std::string& text) {
    std::optional<KSJsonValue> value = KSJsonParser().objectWithString(text);
    EXPECT_TRUE(value && value->object()) << text;
    return value && value->object() ? *value->object() : KSJsonObject();
}

std::shared_ptr<KSContent> unit(const std::string& frame, const std::string& extra = "") {
    return KSContent::contentWithDictionary(
        objectFrom(R"({"url":"http://t.example/u.html","transition":"KS_DIALOG","frame":)" + frame + extra + "}"));
}

TEST(KSContent, AnswersWithoutTheNeededKeysMakeNoUnit) {
    const char* answers[] = {
        R"({"url":"u","transition":"KS_MODAL"})",
        R"({"frame":"KS_FULLSCREEN","transition":"KS_MODAL"})",
        R"({"frame":"KS_FULLSCREEN","url":"u"})",
        R"({"frame":[1,2],"url":"u","transition":"KS_MODAL"})",
        R"({"frame":5,"url":"u","transition":"KS_MODAL"})",
    };
    for (const char* answer : answers) EXPECT_EQ(KSContent::contentWithDictionary(objectFrom(answer)), nullptr) << answer;
}

TEST(KSContent, FieldsComeFromTheAnswer) {
    struct Case {
        const char* extra;
        KSTransition transition;
        double delay;
        const char* ping;
    };
    const Case cases[] = {
        {R"(,"transition":"KS_MODAL","close_delay":2.5,"close_ping":"http://p/x")", KSTransition::Modal, 2.5, "http://p/x"},
        {R"(,"transition":"KS_DIALOG","close_delay":"4")", KSTransition::Dialog, 4, nullptr},
        {R"(,"transition":"KS_OTHER","close_delay":0,"close_ping":7)", KSTransition::None, 10, nullptr},
        {R"(,"transition":1,"close_delay":-3)", KSTransition::None, 10, nullptr},
    };
    for (const Case& c : cases) {
        auto content = KSContent::contentWithDictionary(
            objectFrom(std::string(R"({"url":"http://t/u","frame":"KS_FULLSCREEN","context":{"a":1})") + c.extra + "}"));
        ASSERT_TRUE(content) << c.extra;
        EXPECT_EQ(content->transition(), c.transition) << c.extra;
        EXPECT_EQ(content->closeButtonDelay(), c.delay) << c.extra;
        EXPECT_EQ(content->closeButtonURLPath().has_value(), c.ping != nullptr) << c.extra;
        if (c.ping) {
            EXPECT_EQ(*content->closeButtonURLPath(), c.ping);
        }
        EXPECT_EQ(content->URL(), "http://t/u");
        ASSERT_TRUE(content->context() && content->context()->object());
    }
}

TEST(KSContent, FramesPerOrientation) {
    const std::string both =
        R"({"KS_PORTRAIT":{"x":10,"y":20,"w":300,"h":400},"KS_LANDSCAPE":{"x":"5.5","y":6,"w":470,"h":300}})";
    struct Case {
        std::string frame;
        int orientation;
        Rect expected;
    };
    const Case cases[] = {
        {R"("KS_FULLSCREEN")", 1, {0, 0, 320, 480}},
        {R"("KS_FULLSCREEN")", 2, {0, 0, 320, 480}},
        {R"("KS_FULLSCREEN")", 3, {0, 0, 480, 320}},
        {R"("KS_FULLSCREEN")", 4, {0, 0, 480, 320}},
        {R"({"KS_FULLSCREEN":1})", 3, {0, 0, 480, 320}},
        {both, 1, {10, 20, 300, 400}},
        {both, 2, {10, 20, 300, 400}},
        {both, 0, {10, 20, 300, 400}},  // unknown counts as portrait
        {both, 3, {5.5, 6, 470, 300}},
        {both, 4, {5.5, 6, 470, 300}},
        {R"({"KS_PORTRAIT":{"x":1,"y":2,"w":3,"h":4}})", 4, {}},
        {R"({"KS_LANDSCAPE":{"x":1,"y":2,"w":3,"h":4}})", 1, {}},
        {R"({"KS_PORTRAIT":"KS_FULLSCREEN"})", 1, {}},
    };
    for (const Case& c : cases) {
        auto content = unit(c.frame);
        ASSERT_TRUE(content) << c.frame;
        EXPECT_EQ(content->frameForOrientation(c.orientation, kAppFrame), c.expected) << c.frame << " @" << c.orientation;
    }
    EXPECT_TRUE(kiosk::isNullRect(unit(R"({"KS_PORTRAIT":{}})")->frameForOrientation(3, kAppFrame)));
}

TEST(KSContent, ViewLayoutTurnsWithTheDevice) {
    const Rect screen{0, 0, 320.5, 481};
    struct Case {
        int orientation;
        Rect frame;
        double rotation;
        plat::sys::Point slide;  // 100 points down as the user sees it
    };
    const double pi = std::numbers::pi;
    const Case cases[] = {
        {1, {0, 0, 320, 481}, 0, {0, 100}},         {2, {0, 0, 320, 481}, -pi, {0, -100}},
        {3, {0, 0, 481, 320}, pi / 2, {-100, 0}},   {4, {0, 0, 481, 320}, -pi / 2, {100, 0}},
        {0, {0, 0, 320, 481}, 0, {0, 100}},         {5, {0, 0, 320, 481}, 0, {0, 100}},
    };
    for (const Case& c : cases) {
        kiosk::ContentLayout layout = kiosk::contentViewLayout(screen, c.orientation, 1);
        EXPECT_EQ(layout.frame, c.frame) << c.orientation;
        EXPECT_EQ(layout.rotation, c.rotation) << c.orientation;
        // Turned, the view covers the screen as it stands.
        EXPECT_EQ(kiosk::turnedFrame(layout), (Rect{1, 0.5, 320, 481})) << c.orientation;
        const plat::sys::Point slide = kiosk::slideOffset(layout.rotation, 100);
        EXPECT_EQ(slide.x, c.slide.x) << c.orientation;
        EXPECT_EQ(slide.y, c.slide.y) << c.orientation;
        EXPECT_EQ(layout.center.x, 161);
        EXPECT_EQ(layout.center.y, 241);
    }
}

// The mended fault: the window had turned with the interface and the view turned itself for the
// device as well, a quarter sideways and cut off. Only what the device is turned from the interface
// is left to the view, about the middle of the window as it stands.
TEST(KSContent, ViewLayoutInAWindowTurnedWithTheInterface) {
    const Rect screen{0, 0, 320, 480};
    const double pi = std::numbers::pi;
    const struct {
        int orientation, interface;
        Rect frame;
        plat::sys::Point center;
        double rotation;
    } cases[] = {
        {3, 3, {0, 0, 480, 320}, {240, 160}, 0},      {4, 4, {0, 0, 480, 320}, {240, 160}, 0},
        {2, 2, {0, 0, 320, 480}, {160, 240}, 0},      {1, 3, {0, 0, 320, 480}, {240, 160}, -pi / 2},
        {4, 3, {0, 0, 480, 320}, {240, 160}, -pi},    {3, 4, {0, 0, 480, 320}, {240, 160}, -pi},
        {1, 4, {0, 0, 320, 480}, {240, 160}, pi / 2}, {2, 1, {0, 0, 320, 480}, {160, 240}, -pi},
    };
    for (const auto& c : cases) {
        const kiosk::ContentLayout layout = kiosk::contentViewLayout(screen, c.orientation, c.interface);
        const std::string what = std::to_string(c.orientation) + " in " + std::to_string(c.interface);
        EXPECT_EQ(layout.frame, c.frame) << what;
        EXPECT_EQ(layout.center.x, c.center.x) << what;
        EXPECT_EQ(layout.center.y, c.center.y) << what;
        EXPECT_EQ(layout.rotation, c.rotation) << what;
        // Turned, it covers the window: the interface's bounds.
        const bool wide = c.interface >= 3;
        EXPECT_EQ(kiosk::turnedFrame(layout), (Rect{0, 0, wide ? 480.0 : 320.0, wide ? 320.0 : 480.0})) << what;
    }
    // The close button's corner, the user's top right on a device turned left: where the window has it.
    plat::sys::Point corner{300, 460};
    double turn = pi / 2;
    kiosk::placeInWindow(corner, turn, screen, 3);
    EXPECT_EQ(corner.x, 460);
    EXPECT_EQ(corner.y, 20);
    EXPECT_EQ(turn, 0);
}

TEST(KSContent, WebFramesForModalAndDialogUnits) {
    struct Case {
        bool dialog;
        plat::sys::Size view;  // the view's own size, unturned: the screen as the device stands
        bool barHidden;
        Rect expected;
    };
    const plat::sys::Size upright{320, 480}, wide{480, 320};
    const Rect unitFrame{10, 30, 200, 100};
    const Case cases[] = {
        {false, upright, false, {0, 20, 320, 460}}, {false, upright, true, {0, 0, 320, 480}},
        {false, wide, false, {0, 20, 480, 300}},    {false, wide, true, {0, 0, 480, 320}},
        {true, upright, false, {10, 50, 200, 100}}, {true, upright, true, {10, 30, 200, 100}},
        {true, wide, false, {10, 50, 200, 100}},
    };
    for (const Case& c : cases) {
        double b = kiosk::statusBarOffset(c.barHidden);
        Rect web = c.dialog ? kiosk::dialogWebFrame(unitFrame, b) : kiosk::modalWebFrame(c.view, b);
        EXPECT_EQ(web, c.expected) << c.dialog << " " << c.view.width << " " << c.barHidden;
    }
}

}  // namespace
