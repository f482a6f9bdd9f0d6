// The intro movie's screen on the virtual clock, with clips made here: which movie each device
// plays, what is on the screen while it plays and after, and movies that cannot be played.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MoviePlayer.h"
#include "platform/media/tests/MediaTestSupport.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"
#include "player/app/DKIntroMovieViewController.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

namespace fs = std::filesystem;
namespace foundation = plat::foundation;
using foundation::RunLoop;

// The players' sound device is closed once every test has run (OpenAL complains of one left open).
class CloseMovieAudio : public testing::Environment {
public:
    void TearDown() override { plat::media::closeMovieAudio(); }
};
[[maybe_unused]] testing::Environment* const kCloseMovieAudio = testing::AddGlobalTestEnvironment(new CloseMovieAudio);

const RGB kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

// What the delegate and the notification tell, in order, with the loop's time of the finish.
struct Noting : DKIntroMovieViewControllerDelegate {
    void movieDidStart() override { notes += "start "; }
    void movieDidFinish() override {
        notes += "finish ";
        finishedAt = RunLoop::main().now();
    }
    std::string notes;
    double finishedAt = 0;
};

class IntroMovieTest : public testing::Test {
protected:
    void SetUp() override {
        foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        fs::create_directories(m_dir.file("Game.app"));
        writeFile(m_dir.file("Game.app/Info.plist"), "<plist version=\"1.0\"><dict/></plist>");
        m_posted = foundation::NotificationCenter::defaultCenter().observe(
            kDKIntroMovieStartedNotification, nullptr, [this](const foundation::Notification&) { m_noting.notes += "posted "; });
    }
    void TearDown() override { plat::sys::Device::current().reset(); }
    // Five frames of `colour` at 10 a second (0.5 s) as the bundle's movie `name`.
    void clip(const std::string& name, RGB colour) {
        std::string error;
        ASSERT_TRUE(writeClip(m_dir.file("Game.app/" + name + ".m4v"), {{colour, colour, colour, colour, colour}, 10}, &error))
            << error;
    }
    // The intro screen as the root of a key window on `device`, its intro started.
    std::shared_ptr<DKIntroMovieViewController> start(const char* device) {
        m_window.reset();
        m_app.reset();
        plat::sys::Device::current().setPreset(device);
        foundation::Bundle::setMain(*foundation::Bundle::open(m_dir.file("Game.app")));
        m_app = std::make_unique<plat::ui::Application>();
        m_window = std::make_shared<plat::ui::Window>(m_app->interfaceBounds());
        auto intro = std::make_shared<DKIntroMovieViewController>();
        intro->setDelegate(&m_noting);
        m_window->setRootViewController(intro);
        m_window->makeKeyAndVisible();
        m_noting = {};
        m_start = RunLoop::main().now();
        intro->startIntro();
        return intro;
    }
    // Turns the loop until `notes` ends with `what` (at most 10 s of loop time).
    void runUntil(const std::string& what) {
        for (double t = 0; t < 10 && !m_noting.notes.ends_with(what); t += 0.05) RunLoop::main().runFor(0.05);
    }
    // The composited screen's pixel at (x, y), as fractions of its size.
    RGB at(double x, double y) {
        const double scale = plat::sys::Screen::main().scale();
        const plat::ui::Rect bounds = m_app->interfaceBounds();
        TestScreen screen(int(bounds.width * scale), int(bounds.height * scale));
        EXPECT_TRUE(m_app->compositor().composite(screen));
        const Rgba p = screen.pixel(int(screen.width * x), int(screen.height * y));
        return RGB{uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2])};
    }
    RGB centre() { return at(0.5, 0.5); }

    TempDir m_dir;
    Noting m_noting;
    foundation::Observation m_posted;
    std::unique_ptr<plat::ui::Application> m_app;
    std::shared_ptr<plat::ui::Window> m_window;
    double m_start = 0;
};

// Each device's movie is loaded, announced and presented, shows on the screen on white, and ends
// at its own length; the player is then gone and the white intro screen is back.
TEST_F(IntroMovieTest, EachDevicePlaysItsMovieToTheEnd) {
    clip("drovik_intro", kRed);
    clip("drovik_intro@2x", kGreen);
    clip("drovik_intro-iPad", kBlue);
    const struct {
        const char* device;
        const char* movie;
        RGB colour;
    } cases[] = {{"phone", "drovik_intro.m4v", kRed},
                 {"phone-retina", "drovik_intro@2x.m4v", kGreen},
                 {"tablet", "drovik_intro-iPad.m4v", kBlue}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        auto intro = start(c.device);
        EXPECT_EQ(m_noting.notes, "start ");
        runUntil("posted ");
        ASSERT_EQ(m_noting.notes, "start posted ");
        ASSERT_TRUE(intro->moviePlayerViewController());
        EXPECT_EQ(intro->presentedViewController(), intro->moviePlayerViewController());
        EXPECT_TRUE(intro->moviePlayerViewController()->moviePlayer()->contentURL().ends_with(c.movie));
        RunLoop::main().runFor(0.2);
        EXPECT_EQ(centre(), c.colour);
        // The 4:3 movie fits the upright screen's width: white above and below it.
        EXPECT_EQ(at(0.5, 0.02), kWhite);
        runUntil("finish ");
        EXPECT_EQ(m_noting.notes, "start posted finish ");
        EXPECT_NEAR(m_noting.finishedAt - m_start, 0.5, 0.06);
        EXPECT_EQ(intro->moviePlayerViewController(), nullptr);
        EXPECT_EQ(intro->presentedViewController(), nullptr);
        EXPECT_EQ(centre(), kWhite);
        RunLoop::main().runFor(1);
        EXPECT_EQ(m_noting.notes, "start posted finish ");
    }
}

// A movie missing from the bundle never becomes playable, and one that opens but cannot be decoded
// ends at its first frames: either way the intro finishes, once, and no player is left behind.
TEST_F(IntroMovieTest, AMovieThatCannotPlayStillFinishesTheIntro) {
    const struct {
        const char* name;
        std::string content;  // the bundle's movie; empty: none
        const char* notes;
    } cases[] = {
        {"missing", "", "start finish "},
        {"not a movie", std::string(4096, 'x'), "start posted finish "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_dir.file("Game.app/drovik_intro.m4v"));
        if (!c.content.empty()) writeFile(m_dir.file("Game.app/drovik_intro.m4v"), c.content);
        auto intro = start("phone");
        runUntil("finish ");
        EXPECT_EQ(m_noting.notes, c.notes);
        EXPECT_EQ(intro->presentedViewController(), nullptr);
        EXPECT_EQ(intro->moviePlayerViewController(), nullptr);
        EXPECT_TRUE(intro->view()->subviews().empty());
        EXPECT_EQ(centre(), kWhite);
        RunLoop::main().runFor(1);
        EXPECT_EQ(m_noting.notes, c.notes);
    }
}

}  // namespace
}  // namespace dktest
