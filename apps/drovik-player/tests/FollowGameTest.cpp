// games/follow, the smallest game, played headless as docs/GAMES.md tells an author to: a scripted
// finger drags the rectangle, and the screenshot shows it where the finger went, on every screen
// shape; the next run on the same home starts it where the last one left it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kFollow = DK_SOURCE_DIR "/games/follow/Follow.app";

// The game's picture as the screenshot holds it: its size and the red rectangle's bounds.
struct Picture {
    int width = 0, height = 0;
    int left = -1, top = -1, right = -1, bottom = -1;  // inclusive; -1 without a red pixel
    double centreX() const { return (left + right + 1) / 2.0; }
    double centreY() const { return (top + bottom + 1) / 2.0; }
    bool redAt(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

class FollowGame : public ::testing::Test {
protected:
    // Plays Follow with `script` as its input, the trace kept for a failure's message.
    dktest::ProcessResult play(const std::string& script, std::vector<std::string> options) {
        dktest::writeFile(m_dir.file("input.txt"), script);
        std::vector<std::string> arguments = {kPlayer,  "--headless", "--home",       m_dir.file("home"),
                                              "--input", "input.txt", "--trace",      "input,engine",
                                              "--trace-file", "trace.txt"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(kFollow);
        return dktest::runProcess(arguments, {"ALSOFT_DRIVERS=null"}, m_dir.path());
    }

    std::string trace() { return dktest::readFile(m_dir.file("trace.txt")); }

    Picture picture(const std::string& name) {
        Picture p;
        std::vector<uint8_t> rgba;
        std::string error;
        EXPECT_TRUE(plat::image::readPNG(m_dir.file(name), &p.width, &p.height, &rgba, &error)) << error;
        for (int y = 0; y < p.height; ++y) {
            for (int x = 0; x < p.width; ++x) {
                const uint8_t* px = &rgba[(static_cast<size_t>(y) * p.width + x) * 4];
                if (px[0] < 128 || px[1] > 64 || px[2] > 64) continue;
                if (p.left < 0 || x < p.left) p.left = x;
                if (p.top < 0 || y < p.top) p.top = y;
                p.right = std::max(p.right, x);
                p.bottom = std::max(p.bottom, y);
            }
        }
        return p;
    }

    dktest::TempDir m_dir;
};

// Play starts when the 5-second launch screen ends; the finger comes down after it.
std::string drag(double fromX, double fromY, double viaX, double viaY, double toX, double toY) {
    auto point = [](double x, double y) { return std::to_string(x) + " " + std::to_string(y); };
    return "6 touch down 1 " + point(fromX, fromY) + "\n+0.2 touch move 1 " + point(viaX, viaY) +
           "\n+0.2 touch move 1 " + point(toX, toY) + "\n+0.5 screenshot shot.png\n+0.1 touch up 1\n+0.1 app.quit\n";
}

TEST_F(FollowGame, TheRectangleIsWhereThePointerWent) {
    const struct Case {
        const char* name;
        std::vector<std::string> options;
        double x, y;          // where the finger ends, in points
        int width, height;    // the screenshot, in pixels
        double scale;         // pixels per point
    } cases[] = {
        {"retina phone, the whole screen", {}, 300, 200, 960, 640, 2},
        {"held the other way round", {"--device-orientation", "4"}, 300, 200, 960, 640, 2},
        {"phone", {"--device", "phone"}, 70, 260, 480, 320, 1},
        // Wider than the game: bars left and right, and the finger's point inside the picture.
        {"phone5, bars at the sides", {"--device", "phone5"}, 100, 50, 1136, 640, 2},
        // Taller than the game: bars above and below.
        {"tablet, bars above and below", {"--device", "tablet"}, 700, 400, 1024, 768, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const dktest::ProcessResult r = play(drag(40, 40, 250, 120, c.x, c.y), c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        const Picture p = picture("shot.png");
        EXPECT_EQ(p.width, c.width);
        EXPECT_EQ(p.height, c.height);
        ASSERT_GE(p.left, 0) << "no rectangle drawn\n" << trace();
        EXPECT_NEAR(p.centreX(), c.x * c.scale, 1.0) << trace();
        EXPECT_NEAR(p.centreY(), c.y * c.scale, 1.0) << trace();
        EXPECT_FALSE(p.redAt(static_cast<int>(40 * c.scale), static_cast<int>(40 * c.scale)))
            << "the rectangle stayed where the finger came down";
    }
}

// The position goes into the save folder's store as the finger lifts; a fresh home has none.
TEST_F(FollowGame, TheNextRunStartsWhereTheLastLeftIt) {
    const std::string stay = "6 screenshot shot.png\n6.1 app.quit\n";
    ASSERT_EQ(play(stay, {}).status, 0);
    Picture p = picture("shot.png");
    EXPECT_NEAR(p.centreX(), 480, 1.0) << "a first run starts in the middle";
    EXPECT_NEAR(p.centreY(), 320, 1.0);

    ASSERT_EQ(play(drag(100, 100, 150, 150, 90, 250), {}).status, 0);
    ASSERT_EQ(play(stay, {}).status, 0);
    p = picture("shot.png");
    EXPECT_NEAR(p.centreX(), 180, 1.0) << trace();
    EXPECT_NEAR(p.centreY(), 500, 1.0);
}

}  // namespace
