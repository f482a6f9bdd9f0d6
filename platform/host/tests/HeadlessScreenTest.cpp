// The offscreen screen: its shape as the interface turns, black until drawn, first row on top;
// and quit signals arriving as run-loop input.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/HeadlessScreen.h"
#include "platform/host/QuitSignals.h"
#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::host::HeadlessScreen;

bool allOpaqueBlack(const std::vector<std::uint8_t>& pixels) {
    for (size_t i = 0; i < pixels.size(); i += 4)
        if (pixels[i] || pixels[i + 1] || pixels[i + 2] || pixels[i + 3] != 255) return false;
    return !pixels.empty();
}

TEST(HeadlessScreen, IsTheInterfaceBoundsTimesTheScaleAndBlack) {
    const struct Case {
        double width, height, scale;
        int orientation;
        int pixelsWide, pixelsHigh;
    } cases[] = {
        {320, 480, 2, 1, 640, 960},  {320, 480, 2, 2, 640, 960}, {320, 480, 2, 3, 960, 640},
        {320, 480, 2, 4, 960, 640},  {320, 568, 2, 4, 1136, 640}, {768, 1024, 1, 1, 768, 1024},
        {768, 1024, 1, 3, 1024, 768}, {320, 480, 1, 0, 320, 480},
    };
    for (const Case& c : cases) {
        std::string error;
        auto screen = HeadlessScreen::create(c.width, c.height, c.scale, &error);
        ASSERT_TRUE(screen) << error;
        screen->setInterfaceOrientation(c.orientation);
        EXPECT_EQ(screen->pixelWidth(), c.pixelsWide) << c.width << "x" << c.height << " o" << c.orientation;
        EXPECT_EQ(screen->pixelHeight(), c.pixelsHigh);
        const std::vector<std::uint8_t> pixels = screen->capture();
        EXPECT_EQ(pixels.size(), static_cast<size_t>(c.pixelsWide) * c.pixelsHigh * 4);
        EXPECT_TRUE(allOpaqueBlack(pixels));
    }
}

TEST(HeadlessScreen, ScreenshotsPutTheFirstRowOnTopAndTurningBlanksTheScreen) {
    dktest::TempDir dir;
    std::string error;
    auto screen = HeadlessScreen::create(4, 6, 1, &error);
    ASSERT_TRUE(screen) << error;
    // What a compositor does: draw into the screen's frame buffer and present.
    ASSERT_TRUE(screen->context().makeCurrent());
    glBindFramebuffer(GL_FRAMEBUFFER, screen->framebuffer());
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 5, 4, 1);  // GL's top row
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    screen->layer().present();

    ASSERT_TRUE(screen->writeScreenshot(dir.file("shot.png"), &error)) << error;
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
    ASSERT_TRUE(plat::image::readPNG(dir.file("shot.png"), &width, &height, &rgba, &error)) << error;
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 6);
    EXPECT_EQ(std::vector<std::uint8_t>(rgba.begin(), rgba.begin() + 16), std::vector<std::uint8_t>(16, 255));
    EXPECT_TRUE(allOpaqueBlack(std::vector<std::uint8_t>(rgba.begin() + 16, rgba.end())));

    screen->setInterfaceOrientation(3);
    EXPECT_TRUE(allOpaqueBlack(screen->capture()));
    EXPECT_FALSE(screen->writeScreenshot(dir.file("missing/shot.png"), &error));
}

// In a child of its own, the only process-wide signals being its own: the first quit signal comes
// as input of the loop, a second ends the process at once, killed by it.
TEST(QuitSignals, TheFirstArrivesAsInputOfTheLoopAndASecondEndsTheProcess) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        plat::host::QuitSignals::block();
        plat::foundation::RunLoop loop(
            std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Real));
        plat::host::QuitSignals signals(loop, [&](int signal) {
            const char got = signal == SIGTERM ? 'T' : '?';
            if (write(ready[1], &got, 1) != 1) _exit(3);
            kill(getpid(), SIGINT);
        });
        if (!signals.isWatching()) _exit(2);
        kill(getpid(), SIGTERM);
        loop.runFor(60);
        _exit(0);
    }
    close(ready[1]);
    char got = 0;
    EXPECT_EQ(read(ready[0], &got, 1), 1);
    EXPECT_EQ(got, 'T');
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
}

}  // namespace
