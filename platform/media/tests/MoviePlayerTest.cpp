// The movie player on clips made here, on the virtual clock: what it posts and when, what its view
// shows once composited, and sources that cannot be played still ending once.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MoviePlayer.h"
#include "platform/media/tests/MediaTestSupport.h"
#include "platform/sys/Device.h"
#include "platform/ui/Button.h"
#include "platform/ui/Window.h"
#include "platform/ui/tests/UITestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;
using plat::media::MoviePlayerController;
using Lines = std::vector<std::string>;

const dktest::RGB kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

class MoviePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        plat::sys::Device::current().setPreset("phone");
        m_origin = RunLoop::main().now();
        for (const char* name : {plat::media::kMoviePlayerContentPreloadDidFinishNotification,
                                 plat::media::kMediaPlaybackIsPreparedToPlayDidChangeNotification,
                                 plat::media::kMoviePlayerPlaybackDidFinishNotification})
            m_observations.push_back(NotificationCenter::defaultCenter().observe(name, nullptr, [this](const auto& n) {
                char when[32];
                std::snprintf(when, sizeof when, "%.2f ", RunLoop::main().now() - m_origin);
                std::string line = when + n.name;
                if (const Value* reason = n.userInfo.find(plat::media::kMoviePlayerPlaybackDidFinishReasonUserInfoKey))
                    line += " " + std::to_string(reason->intValue());
                heard.push_back(line);
            }));
    }
    std::string clip(const std::string& name, const dktest::ClipSpec& spec) {
        const std::string path = m_dir.file(name);
        std::string error;
        EXPECT_TRUE(dktest::writeClip(path, spec, &error)) << error;
        return path;
    }
    // Runs until the player has finished (at most `seconds` of loop time).
    void playOut(double seconds = 5) {
        for (double t = 0; t < seconds && (heard.empty() || heard.back().find("Finish") == std::string::npos); t += 0.05)
            RunLoop::main().runFor(0.05);
    }

    dktest::TempDir m_dir;
    plat::ui::Application m_app;
    double m_origin = 0;
    std::vector<Observation> m_observations;
    Lines heard;
};

const std::string kPreload = "MPMoviePlayerContentPreloadDidFinishNotification";
const std::string kPrepared = "MPMediaPlaybackIsPreparedToPlayDidChangeNotification";
const std::string kFinish = "MPMoviePlayerPlaybackDidFinishNotification";

// Five frames at 10 per second, with and without sound: prepared at once, finished at 0.5 s.
TEST_F(MoviePlayerTest, NotificationsInOrderAndTheClipsOwnLength) {
    for (bool sound : {false, true}) {
        SCOPED_TRACE(sound ? "with sound" : "silent");
        heard.clear();
        m_origin = RunLoop::main().now();
        auto player = MoviePlayerController::create(clip("five.nut", {{kRed, kGreen, kBlue, kWhite, kRed}, 10, 32, 24, sound}));
        player->play();
        EXPECT_TRUE(player->isFullScreen()) << "started outside any window";
        playOut();
        EXPECT_EQ(heard, (Lines{"0.00 " + kPreload, "0.00 " + kPrepared, "0.50 " + kFinish + " 0"}));
        EXPECT_NEAR(player->duration(), 0.5, 1e-6);
        EXPECT_FALSE(player->isFullScreen());
        player->stop();  // after the end: nothing more
        RunLoop::main().runFor(0.1);
        EXPECT_EQ(heard.size(), 3u);
    }
}

// The frame due at each moment, as the compositor draws the view; pausing holds the picture.
TEST_F(MoviePlayerTest, FramesOnTheScreenFollowTheClock) {
    auto window = std::make_shared<plat::ui::Window>(plat::ui::Rect{0, 0, 320, 480});
    window->makeKeyAndVisible();
    auto player = MoviePlayerController::create(clip("colours.nut", {{kRed, kGreen, kBlue, kWhite}, 10}));
    player->view()->setFrame({0, 0, 320, 240});
    window->addSubview(player->view());
    player->play();
    auto centre = [&] {
        dktest::TestScreen screen(320, 480);
        EXPECT_TRUE(m_app.compositor().composite(screen));
        auto p = screen.pixel(160, 120);
        return dktest::RGB{uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2])};
    };
    RunLoop::main().runFor(0.05);
    EXPECT_EQ(centre(), kRed);
    RunLoop::main().runFor(0.2);  // 0.25: the third frame
    EXPECT_EQ(centre(), kBlue);
    player->pause();
    RunLoop::main().runFor(1);
    EXPECT_EQ(centre(), kBlue);
    EXPECT_FALSE(player->isFullScreen());
    player->play();
    playOut();
    EXPECT_EQ(centre(), kWhite);
    EXPECT_NEAR(RunLoop::main().now() - m_origin, 1.4, 0.06) << "0.4 s of clip and 1 s paused";
}

// Whatever fails, the finish comes exactly once; Done ends a full-screen movie as a user exit.
TEST_F(MoviePlayerTest, EveryEndingFinishesOnce) {
    dktest::RecordingServer server(m_dir.file("server"), R"({"default": {"status": "HTTP/1.1 404 Not Found"}})");
    ASSERT_TRUE(server.running());
    const std::string whole = clip("whole.nut", {{kRed, kGreen, kBlue, kWhite, kRed, kGreen}, 10, 64, 48, true});
    const std::string cut = m_dir.file("cut.nut");
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 3);
    const std::string garbage = m_dir.file("garbage.nut");
    dktest::writeFile(garbage, std::string(4096, 'x'));
    for (const std::string& url : {server.url() + "/missing.mp4", cut, garbage, m_dir.file("none.nut")}) {
        SCOPED_TRACE(url);
        heard.clear();
        auto player = MoviePlayerController::create(url);
        player->play();
        playOut();
        RunLoop::main().runFor(1);
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(std::count_if(heard.begin(), heard.end(), [](const std::string& l) { return l.find(kFinish) != std::string::npos; }), 1);
        EXPECT_EQ(MoviePlayerController::current(), nullptr);
    }
    heard.clear();
    auto player = MoviePlayerController::create(whole);
    player->play();
    RunLoop::main().runFor(0.2);
    ASSERT_TRUE(player->doneButton());
    player->doneButton()->sendActions();
    EXPECT_EQ(heard.back().substr(5), kFinish + " 2");
    EXPECT_FALSE(player->isFullScreen());
}

}  // namespace
