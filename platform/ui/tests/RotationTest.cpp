// Rotation rules: the Info.plist's lists, the launch orientation, device turns, presenting and
// dismissing, on systems 5 and 6, and no common orientation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"

namespace {

using namespace plat::ui;
using namespace dktest;
using plat::foundation::Value;
using plat::sys::Device;

const char* const kLandscape = R"(["UIInterfaceOrientationLandscapeLeft","UIInterfaceOrientationLandscapeRight"])";
const Rect kPortraitBounds{0, 0, 320, 480}, kLandscapeBounds{0, 0, 480, 320};

class RotationTest : public ::testing::Test {
protected:
    void SetUp() override {
        Device::current().reset();
        Device::current().setPreset("phone");
    }
    void TearDown() override {
        app.reset();
        useInfoPlist("");
        Device::current().reset();
    }
    // The main bundle's Info.plist lists `orientations` (JSON; empty: no such entry).
    void useInfoPlist(const std::string& orientations) {
        Value info = Value::Dictionary{};
        if (!orientations.empty())
            (*info.dictionary())["UISupportedInterfaceOrientations"] = *Value::fromJSON(orientations);
        std::string dir = tmp.file("Game.app");
        mkdir(dir.c_str(), 0700);
        ASSERT_TRUE(writePropertyList(dir + "/Info.plist", info, plat::foundation::PropertyListFormat::Xml));
        plat::foundation::Bundle::setMain(*plat::foundation::Bundle::open(dir));
    }
    // Launched on `system` with the device in `orientation` and `root` in the key window.
    void launch(std::shared_ptr<ViewController> root, const char* system = "6.1", int orientation = 1) {
        Device::current().setSystemVersion(system);
        Device::current().setOrientation(orientation);
        auto delegate = std::make_unique<NotingDelegate>();
        delegate->onLaunch = [this, root](Application&) { window = showWindow(root); };
        app = std::make_unique<Application>(std::move(delegate), &loop);
        app->launch();
        log.take();
    }

    TempDir tmp;
    plat::foundation::RunLoop loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    TraceLog log;
    std::shared_ptr<Window> window;
    std::unique_ptr<Application> app;
};

TEST_F(RotationTest, InfoPlistListsGiveTheApplicationsOrientations) {
    const struct {
        const char* list;
        unsigned mask;
    } cases[] = {
        {"", 30},
        {"[]", 0},
        {R"(["UIInterfaceOrientationPortrait"])", 2},
        {R"(["UIInterfaceOrientationPortraitUpsideDown"])", 4},
        {kLandscape, 24},
        {R"(["UIInterfaceOrientationLandscapeRight","Sideways"])", 8},
        {R"([1,"UIInterfaceOrientationPortrait"])", 2},
        {R"("UIInterfaceOrientationPortrait")", 30},
    };
    for (const auto& c : cases) {
        useInfoPlist(c.list);
        Application application(nullptr, &loop);
        EXPECT_EQ(application.supportedInterfaceOrientationsForWindow(nullptr), c.mask) << c.list;
    }
    const struct {
        const char* name;
        int orientation;
    } names[] = {{"UIInterfaceOrientationLandscapeLeft", 4}, {"UIInterfaceOrientationPortrait", 1},
                 {"UIInterfaceOrientationPortraitUpsideDown", 2}, {"UIInterfaceOrientationLandscapeRight", 3}, {"", 3}};
    for (const auto& n : names) EXPECT_EQ(interfaceOrientationForString(n.name), n.orientation) << n.name;
    // A delegate that answers overrides the list.
    useInfoPlist("[]");
    auto delegate = std::make_unique<NotingDelegate>();
    delegate->orientations = 26;
    Application application(std::move(delegate), &loop);
    EXPECT_EQ(application.supportedInterfaceOrientationsForWindow(nullptr), 26u);
}

TEST_F(RotationTest, LaunchTakesTheDeviceThenTheRootsPreferenceThenTheFirstAllowed) {
    const struct {
        const char* system;
        const char* list;
        int device;
        unsigned mask, maskBelowSix;
        int preferred;
        int expected;
    } cases[] = {
        {"6.1", "", 3, 30, 30, 0, 3},         {"6.1", kLandscape, 1, 30, 30, 0, 3},
        {"6.1", kLandscape, 1, 30, 30, 4, 4}, {"6.1", kLandscape, 5, 30, 30, 0, 3},
        {"6.1", "", 1, 20, 20, 0, 4},  // of 2 and 4, 4 comes first
        {"6.1", R"(["UIInterfaceOrientationPortrait"])", 3, 24, 24, 0, 1},  // none in common: as it was
        {"6.1", "", 1, 24, 2, 0, 3},          {"5.1", "", 1, 24, 2, 0, 1},
        {"5.1", "", 4, 2, 24, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.system) + " " + c.list + " device " + std::to_string(c.device));
        useInfoPlist(c.list);
        auto root = std::make_shared<NotingController>("Root", c.mask, c.preferred);
        root->maskBelowSix = c.maskBelowSix;
        launch(root, c.system, c.device);
        EXPECT_EQ(app->interfaceOrientation(), c.expected);
        EXPECT_EQ(app->statusBarOrientation(), c.expected);
        Rect bounds = isLandscape(c.expected) ? kLandscapeBounds : kPortraitBounds;
        EXPECT_EQ(window->frame(), bounds);
        EXPECT_EQ(root->view()->frame(), bounds);
        app.reset();
        window.reset();
        log.take();
    }
}

TEST_F(RotationTest, DeviceTurnsRotateWhenAllowedAndTheTopControllerAgrees) {
    const struct {
        const char* system;
        unsigned mask, maskBelowSix;
        bool autorotate;
        int turn;
        int expected;
    } cases[] = {
        {"6.1", 30, 30, true, 3, 3},  {"6.1", 30, 30, true, 5, 1},  {"6.1", 26, 26, true, 2, 1},
        {"6.1", 30, 30, false, 3, 1}, {"5.1", 30, 30, false, 3, 3}, {"5.1", 30, 2, true, 3, 1},
        {"6.1", 30, 2, true, 4, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.system) + " turn " + std::to_string(c.turn));
        auto root = std::make_shared<NotingController>("Root", c.mask);
        root->maskBelowSix = c.maskBelowSix;
        root->autorotate = c.autorotate;
        launch(root, c.system, 1);
        Device::current().setOrientation(c.turn);
        EXPECT_EQ(app->interfaceOrientation(), c.expected);
        Lines expected;
        if (c.expected != 1)
            expected = {"test Root willRotate " + std::to_string(c.expected) + " 0.3",
                        "ui rotate " + std::to_string(c.expected), "test Root didRotate 1"};
        EXPECT_EQ(log.take(), expected);
        EXPECT_EQ(root->view()->frame(), c.expected == 1 ? kPortraitBounds : kLandscapeBounds);
        app.reset();
        window.reset();
        log.take();
    }
}

TEST_F(RotationTest, PresentingAndDismissingTurnTheInterfaceForTheNewTop) {
    auto game = std::make_shared<NotingController>("Game", 24);
    auto startup = std::make_shared<NotingController>("Startup", 2);
    launch(game, "6.1", 3);
    ASSERT_EQ(app->interfaceOrientation(), 3);

    game->presentViewController(startup, false);
    EXPECT_EQ(log.take(), (Lines{"ui present Startup", "test Startup viewDidLoad", "test Game viewWillDisappear",
                                 "test Startup viewWillAppear", "test Startup willRotate 1 0.3", "ui rotate 1",
                                 "test Startup didRotate 3", "test Game viewDidDisappear", "test Startup viewDidAppear"}));
    EXPECT_EQ(game->view()->window(), nullptr);
    EXPECT_EQ(game->view()->frame(), kLandscapeBounds);  // not laid out while covered
    EXPECT_EQ(startup->view()->frame(), kPortraitBounds);
    EXPECT_EQ(app->topViewController(), startup.get());

    startup->dismissViewController(false);  // the presented one passes it to its presenter
    EXPECT_EQ(log.take(), (Lines{"ui dismiss Startup", "test Startup viewWillDisappear", "test Game viewWillAppear",
                                 "test Game willRotate 3 0.3", "ui rotate 3", "test Game didRotate 1",
                                 "test Startup viewDidDisappear", "test Game viewDidAppear"}));
    EXPECT_EQ(game->view()->window(), window.get());
    EXPECT_EQ(game->view()->frame(), kLandscapeBounds);
    EXPECT_EQ(startup->view()->window(), nullptr);
    EXPECT_EQ(startup->presentingViewController(), nullptr);
    EXPECT_EQ(game->presentedViewController(), nullptr);
}

TEST_F(RotationTest, PresentAndDismissRulesAsATable) {
    const struct {
        const char* system;
        int gamePreferred;
        unsigned startupMask, startupMaskBelowSix;
        int startupPreferred;
        int deviceWhileShown;
        int afterPresent, afterDismiss;
    } cases[] = {
        {"6.1", 0, 2, 2, 0, 3, 1, 3},
        {"6.1", 0, 2, 2, 0, 4, 1, 4},    // the device turned meanwhile: dismissal follows it
        {"6.1", 4, 2, 2, 0, 5, 1, 4},    // face up: the revealed one's preference
        {"6.1", 0, 2, 2, 0, 5, 1, 3},    // ... which is the status bar's: the first allowed
        {"6.1", 0, 30, 30, 0, 3, 3, 3},  // allowed: no turn
        {"6.1", 0, 6, 6, 2, 3, 2, 3},    // the presented one's preference
        {"6.1", 0, 0, 0, 0, 3, 3, 3},    // no common orientation: nothing turns, nothing fails
        {"5.1", 0, 2, 24, 0, 3, 3, 3},   // below 6.0 only shouldAutorotateToInterfaceOrientation counts
        {"5.1", 0, 24, 2, 0, 3, 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.system) + " startup " + std::to_string(c.startupMask) + " device " +
                     std::to_string(c.deviceWhileShown));
        auto game = std::make_shared<NotingController>("Game", 24, c.gamePreferred);
        auto startup = std::make_shared<NotingController>("Startup", c.startupMask, c.startupPreferred);
        startup->maskBelowSix = c.startupMaskBelowSix;
        launch(game, c.system, 3);
        game->presentViewController(startup, false);
        Device::current().setOrientation(c.deviceWhileShown);
        EXPECT_EQ(app->interfaceOrientation(), c.afterPresent);
        game->dismissViewController(false);
        EXPECT_EQ(app->interfaceOrientation(), c.afterDismiss);
        EXPECT_EQ(game->view()->frame(), isLandscape(c.afterDismiss) ? kLandscapeBounds : kPortraitBounds);
        app.reset();
        window.reset();
        log.take();
    }
}

TEST_F(RotationTest, PresentationIsRefusedWhereThePlatformRefusesIt) {
    auto root = std::make_shared<NotingController>("Root");
    auto first = std::make_shared<NotingController>("First");
    launch(root);
    auto loose = std::make_shared<NotingController>("Loose");  // its view is in no window
    loose->presentViewController(std::make_shared<NotingController>("Other"), false);
    root->presentViewController(first, false);
    root->presentViewController(std::make_shared<NotingController>("Second"), false);  // already presenting
    first->presentViewController(first, false);  // itself
    Lines lines = log.take();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("ui present"); }), 1);
    EXPECT_EQ(root->presentedViewController(), first.get());
    EXPECT_EQ(first->presentedViewController(), nullptr);
}

// A window driver's click on glass made for one orientation, as a point of the interface turned on
// it (the compositor's turn undone): the interface's top-left corner wherever it shows.
TEST(GlassTest, PointsOnTheGlassBecomeInterfacePoints) {
    const struct {
        int glass, interface;
        Size glassSize;
        Point onGlass, expected;
    } cases[] = {
        {1, 1, {320, 480}, {10, 20}, {10, 20}},
        {3, 1, {480, 320}, {20, 310}, {10, 20}},  // portrait interface on landscape glass: its top on the left
        {1, 3, {320, 480}, {300, 10}, {10, 20}},  // landscape interface on portrait glass: its top on the right
        {1, 2, {320, 480}, {310, 460}, {10, 20}},
        {4, 3, {480, 320}, {470, 300}, {10, 20}},
        {3, 4, {480, 320}, {470, 300}, {10, 20}},
        {0, 5, {320, 480}, {10, 20}, {10, 20}},  // not interface orientations: portrait
    };
    for (const auto& c : cases)
        EXPECT_EQ(interfacePointFromGlass(c.onGlass, c.glassSize, c.glass, c.interface), c.expected)
            << c.glass << " " << c.interface;
}

}  // namespace
