// The start-up screen headless on the virtual clock: the launch image per device, the start-up
// provider and orientation, the end of the intro (5 s, or the more-games view's dismissal through
// the failing content-request stand-in), and the more-games buttons reachable on every layout.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/ImageCodec.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Window.h"
#include "player/app/DKIntroMovieViewController.h"
#include "player/app/DKOrientationAnswers.h"
#include "player/app/DKStartUpViewController.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

namespace fs = std::filesystem;
namespace foundation = plat::foundation;
namespace ui = plat::ui;
using foundation::RunLoop;
using testing::DoubleNear;
using testing::ElementsAre;

// Times are measured from a start the virtual clock reached in earlier tests of the process, so
// the difference carries that clock's rounding.
constexpr double kClockSlack = 1e-6;

const std::string kLandscapeOnly =
    "<key>UISupportedInterfaceOrientations</key><array><string>UIInterfaceOrientationLandscapeRight</string>"
    "<string>UIInterfaceOrientationLandscapeLeft</string></array>";
const std::string kPortraitOnly =
    "<key>UISupportedInterfaceOrientations</key><array><string>UIInterfaceOrientationPortrait</string></array>";
const std::string kKiosk =
    "<key>StartupProvider</key><string>kiosk</string><key>DKGameKS_Token</key><string>tok</string>"
    "<key>DKGameKS_Secret</key><string>sec</string>";

std::string entry(const std::string& key, const std::string& value) {
    return "<key>" + key + "</key><string>" + value + "</string>";
}

// The player's delegate as far as the start-up screen sees it: it presents the screen at launch
// and notes when the intro is reported finished.
struct StartUpDelegate : DKOrientationAnswers, DKStartUpClient {
    void didFinishLaunching(ui::Application& app) override {
        root = std::make_shared<ui::ViewController>();
        window = std::make_shared<ui::Window>(app.interfaceBounds());
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        root->presentViewController(screen, false);
    }
    void setIntroFinished(bool finished) override {
        if (finished) finishedAt.push_back(RunLoop::main().now() - start);
    }
    double start = RunLoop::main().now();
    std::shared_ptr<DKStartUpViewController> screen = std::make_shared<DKStartUpViewController>();
    std::shared_ptr<ui::ViewController> root;
    std::shared_ptr<ui::Window> window;
    std::vector<double> finishedAt;
};

class StartUpScreenTest : public testing::Test {
protected:
    void SetUp() override {
        foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        foundation::Trace::configure("startup,svc", m_dir.file("trace").c_str());
    }
    void TearDown() override {
        m_app.reset();
        foundation::Trace::configure("", "");
        plat::sys::Device::current().reset();
    }
    // A bundle with `entries` in its Info.plist and the launch images named, on `device`; then
    // launched, the screen presented.
    StartUpDelegate& launch(const std::string& device, const std::string& entries,
                            const std::vector<std::string>& images = {}) {
        plat::sys::Device::current().setPreset(device);
        const std::string app = m_dir.file("Game.app");
        fs::create_directories(app);
        writeFile(app + "/Info.plist", "<plist version=\"1.0\"><dict>" + entries + "</dict></plist>");
        for (const std::string& name : images)
            EXPECT_TRUE(plat::image::writePNG(app + "/" + name + ".png", 2, 2, std::vector<uint8_t>(16, 200), nullptr));
        foundation::Bundle::setMain(*foundation::Bundle::open(app));
        auto delegate = std::make_unique<StartUpDelegate>();
        StartUpDelegate& d = *delegate;
        m_app = std::make_unique<ui::Application>(std::move(delegate));
        m_app->launch();
        return d;
    }
    // The trace's lines without their times.
    std::vector<std::string> traceLines() {
        std::vector<std::string> lines;
        std::istringstream in(readFile(m_dir.file("trace")));
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
        return lines;
    }
    bool traced(const std::string& line) {
        auto lines = traceLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    TempDir m_dir;
    std::unique_ptr<ui::Application> m_app;
};

TEST_F(StartUpScreenTest, LaunchImagePerDevice) {
    const std::vector<std::string> all = {"Default", "Default-568h@2x", "Default-Portrait~ipad", "Default-Landscape~ipad"};
    const struct Case {
        const char* device;
        std::string entries;
        std::vector<std::string> images;
        const char* traced;
        unsigned supported;  // the start-up screen's answer
        ui::Rect frame;      // the launch image's view
    } cases[] = {
        {"phone5", kLandscapeOnly, all, "startup launchImage Default-568h@2x.png", 2, {0, 0, 320, 568}},
        {"phone-retina", kLandscapeOnly, all, "startup launchImage Default.png", 2, {0, 0, 320, 480}},
        {"tablet", kLandscapeOnly, all, "startup launchImage Default-Landscape~ipad.png", 24, {0, 0, 1024, 768}},
        {"tablet", kPortraitOnly, all, "startup launchImage Default-Portrait~ipad.png", 6, {0, 0, 768, 1024}},
        {"tablet", kLandscapeOnly, {"Default-Portrait~ipad"}, "startup launchImage Default-Portrait~ipad.png", 6,
         {0, 0, 768, 1024}},
        {"phone", "", {}, "startup launchImage none", 2, {0, 0, 320, 480}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.traced);
        StartUpDelegate& d = launch(c.device, c.entries, c.images);
        EXPECT_TRUE(traced(c.traced));
        EXPECT_EQ(d.screen->supportedInterfaceOrientations(), c.supported);
        auto& image = static_cast<ui::ImageView&>(*d.screen->imageViewController()->view());
        EXPECT_EQ(image.frame(), c.frame);
        EXPECT_EQ(image.image() != nullptr, std::string(c.traced) != "startup launchImage none");
        EXPECT_EQ(image.backgroundColor(), (ui::Color{1, 0, 0, 1}));
        m_app.reset();
        fs::remove_all(m_dir.file("Game.app"));
    }
}

TEST_F(StartUpScreenTest, ProviderAndOrientation) {
    const struct Case {
        const char* device;
        std::string entries;
        const char* traced;
        int orientation;
        const char* shown;  // the button shown, if any
        bool backdrop;
    } cases[] = {
        {"phone", entry("StartupProvider", "kiosk") + entry("DKGameKS_Token", "tok"), "startup provider kiosk invalid", 0,
         nullptr, false},
        {"phone", "", "startup provider none invalid", 0, nullptr, false},
        {"phone", kKiosk, "startup provider kiosk valid", 4, "landscapeL", true},
        {"phone", kKiosk + entry("DKStartupOrientation", "UIInterfaceOrientationLandscapeRight"),
         "startup provider kiosk valid", 3, "landscapeR", true},
        {"phone", kKiosk + entry("DKStartupOrientation", "UIInterfaceOrientationPortrait"), "startup provider kiosk valid",
         1, "portrait", true},
        {"phone", kKiosk + entry("DKStartupOrientation", "Sideways"), "startup provider kiosk valid", 4, "landscapeL", true},
        {"phone", entry("StartupProvider", "drovikNetwork"), "startup provider drovikNetwork valid", 4, nullptr, true},
        {"tablet", kKiosk + kLandscapeOnly, "startup provider kiosk valid", 4, "landscapeiPad", true},
        {"tablet", kKiosk + kPortraitOnly, "startup provider kiosk valid", 4, "portrait", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.traced) + " " + c.entries);
        StartUpDelegate& d = launch(c.device, c.entries, {"Default-Portrait~ipad", "Default-Landscape~ipad"});
        EXPECT_TRUE(traced(c.traced));
        DKStartUpViewController& s = *d.screen;
        EXPECT_EQ(s.orientation(), c.orientation);
        const std::pair<const char*, ui::Button*> buttons[] = {{"portrait", s.portraitButton()},
                                                               {"landscapeL", s.landscapeLButton()},
                                                               {"landscapeR", s.landscapeRButton()},
                                                               {"landscapeiPad", s.landscapeiPadButton()}};
        for (auto [name, button] : buttons) {
            if (!button) continue;
            EXPECT_EQ(!button->isHidden(), c.shown && std::string(c.shown) == name) << name;
        }
        EXPECT_EQ(!s.contentBackgroundView()->isHidden(), c.backdrop);
        m_app.reset();
        fs::remove_all(m_dir.file("Game.app"));
    }
}

TEST_F(StartUpScreenTest, IntroEndsOnceFiveSecondsAfterTheScreenLoads) {
    int posted = 0;
    foundation::Observation seen = foundation::NotificationCenter::defaultCenter().observe(
        kDKIntroScreenFinishedNotification, nullptr, [&](const foundation::Notification&) { ++posted; });
    StartUpDelegate& d = launch("phone", kKiosk);
    EXPECT_EQ(posted, 1);
    RunLoop::main().runFor(4.9);
    EXPECT_TRUE(d.finishedAt.empty());
    EXPECT_TRUE(d.screen->progressLoadingView()->isHidden());
    RunLoop::main().runFor(1);
    d.screen->loadEndScreen();
    EXPECT_THAT(d.finishedAt, ElementsAre(DoubleNear(5.0, kClockSlack)));
    EXPECT_FALSE(d.screen->progressLoadingView()->isHidden());
    EXPECT_TRUE(d.screen->contentBackgroundView()->isHidden());
}

TEST_F(StartUpScreenTest, MoreGamesTapEndsTheIntroThroughTheFailingRequest) {
    StartUpDelegate& d = launch("phone", kKiosk + entry("DKStartupOrientation", "UIInterfaceOrientationPortrait"));
    RunLoop::main().runFor(2);
    ui::Button& button = *d.screen->portraitButton();
    const ui::Point centre = button.convertPointToView({button.bounds().width / 2, button.bounds().height / 2}, nullptr);
    ASSERT_TRUE(m_app->injectTouches({{ui::TouchPhase::Began, 1, centre}}));
    ASSERT_TRUE(m_app->injectTouches({{ui::TouchPhase::Ended, 1, centre}}));
    EXPECT_TRUE(d.screen->showMoreGamesIsVisible());
    EXPECT_TRUE(traced("svc kiosk content more_games"));
    RunLoop::main().runFor(0.5);
    EXPECT_FALSE(d.screen->showMoreGamesIsVisible());
    EXPECT_THAT(d.finishedAt, ElementsAre(DoubleNear(2.0, kClockSlack)));
    RunLoop::main().runFor(5);
    EXPECT_EQ(d.finishedAt.size(), 1u);
}

// With the content-ads stand-in's file the unit shows until the script dismisses it: its display is
// tagged, the intro waits for the dismissal.
TEST_F(StartUpScreenTest, MoreGamesUnitShownIsTaggedAndEndsTheIntroWhenDismissed) {
    foundation::Container::setMain(*foundation::Container::open("com.test.startup", m_dir.file("home")));
    fs::create_directories(m_dir.file("home/Library/LocalServices"));
    writeFile(m_dir.file("home/Library/LocalServices/contentads.plist"), "<plist version=\"1.0\"><dict/></plist>");
    StartUpDelegate& d = launch("phone", kKiosk);
    d.screen->showMoreGamesView(nullptr);
    const auto act = [](const char* command) {
        std::function<void()> action = foundation::serviceCommandAction(command, {});
        ASSERT_TRUE(action) << command;
        action();
    };
    act("content.display");
    EXPECT_TRUE(traced("svc metrics tagEvent adShownFullscreen p=kiosk"));
    RunLoop::main().runFor(6);
    EXPECT_TRUE(d.finishedAt.empty()) << "the unit is up";
    act("content.dismiss");
    EXPECT_THAT(d.finishedAt, ElementsAre(DoubleNear(6.0, kClockSlack)));
    fs::remove(m_dir.file("home/Library/LocalServices/contentads.plist"));
}

TEST_F(StartUpScreenTest, MoreGamesButtonsAreOnScreenAndTakeTaps) {
    const struct Case {
        const char* device;
        std::string entries;
    } cases[] = {{"phone", kPortraitOnly}, {"phone5", kLandscapeOnly}, {"tablet", kPortraitOnly},
                 {"tablet", kLandscapeOnly}, {"tablet-retina", kLandscapeOnly}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + c.entries);
        StartUpDelegate& d = launch(c.device, c.entries, {"Default-Portrait~ipad", "Default-Landscape~ipad"});
        DKStartUpViewController& s = *d.screen;
        for (ui::Button* button : {s.portraitButton(), s.landscapeLButton(), s.landscapeRButton(), s.landscapeiPadButton()}) {
            if (!button) continue;
            button->setHidden(false);
            const ui::Rect f = button->frame(), screen = d.window->bounds();
            EXPECT_TRUE(f.x >= 0 && f.y >= 0 && f.x + f.width <= screen.width && f.y + f.height <= screen.height);
            const ui::Point centre = button->convertPointToView({f.width / 2, f.height / 2}, nullptr);
            EXPECT_EQ(d.window->hitTest(centre, nullptr), button);
            button->setHidden(true);
        }
        m_app.reset();
        fs::remove_all(m_dir.file("Game.app"));
    }
}

// A screen released before its 5 s are up (the delegate releases it once play starts) reports
// nothing later; nor does a more-games view released before its request fails.
TEST_F(StartUpScreenTest, DelayedCallsDieWithTheirTargets) {
    StartUpDelegate& d = launch("phone", kKiosk);
    d.root->dismissViewController(false);
    std::weak_ptr<DKStartUpViewController> gone = d.screen;
    d.screen.reset();
    ASSERT_TRUE(gone.expired());
    RunLoop::main().runFor(6);
    EXPECT_TRUE(d.finishedAt.empty());

    struct Noting : DKFullscreenAdProviderDelegate {
        void adDismissed() override { ++dismissed; }
        int dismissed = 0;
    } noting;
    auto kiosk = std::make_shared<DKKioskViewController>();
    kiosk->setDelegate(&noting);
    kiosk->showMoreGamesAd();
    kiosk.reset();
    RunLoop::main().runFor(1);
    EXPECT_EQ(noting.dismissed, 0);
}

// Without a movie in the bundle the intro starts and finishes once the player has failed to open
// it, announcing no movie; nothing comes after the controller is gone.
TEST_F(StartUpScreenTest, IntroMovieWithoutAMovieStillFinishes) {
    struct Noting : DKIntroMovieViewControllerDelegate {
        void movieDidStart() override { notes += "start "; }
        void movieDidFinish() override { notes += "finish "; }
        std::string notes;
    } noting;
    foundation::Observation seen = foundation::NotificationCenter::defaultCenter().observe(
        kDKIntroMovieStartedNotification, nullptr, [&](const foundation::Notification&) { noting.notes += "posted "; });
    auto movie = std::make_shared<DKIntroMovieViewController>();
    movie->setDelegate(&noting);
    movie->startIntro();
    EXPECT_EQ(noting.notes, "start ");
    RunLoop::main().runFor(0.1);
    EXPECT_EQ(noting.notes, "start finish ");
    movie->startIntro();
    movie.reset();
    RunLoop::main().runFor(0.1);
    EXPECT_EQ(noting.notes, "start finish start ");
}

}  // namespace
}  // namespace dktest
