// The movie player in a process where OpenAL opens no device: the sound is dropped and the clip
// keeps its length.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/MovieAudio.h"
#include "platform/media/MoviePlayer.h"
#include "platform/media/tests/MediaTestSupport.h"
#include "tests/support/TestMain.h"
#include "tests/support/TestSupport.h"

namespace {

// Before anything opens OpenAL: a driver list naming no driver there is.
const bool kNoDevice = dktest::chooseSoundDrivers("no-such-driver");

TEST(MovieWithoutAudioDevice, PlaysSilentlyForTheClipsLength) {
    ASSERT_TRUE(kNoDevice);
    using namespace plat::foundation;
    Clock::process().setVirtual(true);
    EXPECT_FALSE(plat::media::MovieAudio().hasDevice());
    dktest::TempDir dir;
    std::string error;
    ASSERT_TRUE(dktest::writeClip(dir.file("tone.nut"), {{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, 10, 32, 24, true}, &error))
        << error;
    auto player = plat::media::MoviePlayerController::create(dir.file("tone.nut"));
    double finishedAt = -1;
    const double start = RunLoop::main().now();
    Observation end = NotificationCenter::defaultCenter().observe(
        plat::media::kMoviePlayerPlaybackDidFinishNotification, player.get(),
        [&](const auto&) { finishedAt = RunLoop::main().now() - start; });
    player->play();
    RunLoop::main().runFor(1);
    EXPECT_NEAR(finishedAt, 0.3, 1e-6);
}

}  // namespace
