// What of Game Center stands alone: the score a script's number becomes, the pending file
// shared by every player of the machine, and the achievement banner's geometry and queue.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/TextMeasure.h"
#include "platform/ui/Window.h"
#include "player/plugins/gamecenter/DKGameCenterPendingFile.h"
#include "player/plugins/gamecenter/GKAchievementHandler.h"
#include "tests/support/TestSupport.h"

// Fontconfig (behind the banner's labels, measured here) keeps its configuration and caches for
// the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace dktest {
namespace {

namespace gc = dk::player::gamecenter;
using plat::foundation::Value;
using plat::ui::Rect;

TEST(GameCenterScore, TheScriptsNumberIsTruncatedClampedOrDropped) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
    const struct {
        float score;
        std::optional<int64_t> value;
    } cases[] = {
        {99.9f, 99},
        {-0.5f, 0},
        {-7.9f, -7},
        {16777217.0f, 16777216},  // the float the bridge hands over
        {std::numeric_limits<float>::infinity(), kMax},
        {-std::numeric_limits<float>::infinity(), kMin},
        {1e30f, kMax},
        {-1e30f, kMin},
        {std::nanf(""), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(gc::scoreValue(c.score), c.value) << c.score;
}

// The pending file, read back through the property-list reader (libplist).
class PendingFileTest : public testing::Test {
protected:
    std::string path() { return m_dir.file(gc::kPendingFileName); }
    Value fileValue() {
        std::optional<Value> value = plat::foundation::readPropertyList(path());
        return value ? *value : Value();
    }
    static gc::PendingQueues queues(int n, const std::string& tag) {
        gc::PendingQueues q;
        for (int i = 0; i < n; ++i) {
            q.scores.push_back({i % 2 ? std::optional<std::string>() : tag, i, 1000.0 + i});
            q.achievements.push_back({tag + std::to_string(i), 12.5 * i});
        }
        return q;
    }
    TempDir m_dir;
};

TEST_F(PendingFileTest, EachPlayerKeepsTheirOwnQueues) {
    ASSERT_TRUE(gc::writePendingQueues(path(), "G:1", queues(2, "one")));
    ASSERT_TRUE(gc::writePendingQueues(path(), "G:1:x", queues(3, "two")));  // ids holding ":"
    ASSERT_TRUE(gc::writePendingQueues(path(), "G:1", queues(1, "again")));
    const Value file = fileValue();
    ASSERT_TRUE(file.dictionary());
    EXPECT_EQ(file.dictionary()->size(), 4u);
    // The stored form: a category only when there is one, dates, reals.
    const Value expected = Value::Array{Value::Dictionary{{"category", "two"}, {"value", 0},
                                                          {"date", plat::foundation::Date{1000}}},
                                        Value::Dictionary{{"value", 1}, {"date", plat::foundation::Date{1001}}},
                                        Value::Dictionary{{"category", "two"}, {"value", 2},
                                                          {"date", plat::foundation::Date{1002}}}};
    EXPECT_EQ(*file.find("G:1:x:Scores"), expected);
    const gc::PendingQueues one = gc::readPendingQueues(path(), "G:1"), two = gc::readPendingQueues(path(), "G:1:x");
    ASSERT_EQ(one.scores.size(), 1u);
    EXPECT_EQ(one.achievements[0].identifier, "again0");
    ASSERT_EQ(two.achievements.size(), 3u);
    EXPECT_EQ(two.achievements[2].percentComplete, 25.0);
    EXPECT_FALSE(two.scores[1].category);
    EXPECT_TRUE(gc::readPendingQueues(path(), "G:2").scores.empty());
}

TEST_F(PendingFileTest, ADamagedFileReadsEmptyAndIsSetAsideBeforeTheNextWrite) {
    writeFile(path(), "<plist><dict><key>G:1:Scores</key>");
    testing::internal::CaptureStderr();
    const gc::PendingQueues read = gc::readPendingQueues(path(), "G:1");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(read.scores.empty() && read.achievements.empty());
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    ASSERT_TRUE(gc::writePendingQueues(path(), "G:1", queues(1, "new")));
    EXPECT_EQ(readFile(path() + ".damaged"), "<plist><dict><key>G:1:Scores</key>");
    EXPECT_EQ(gc::readPendingQueues(path(), "G:1").scores.size(), 1u);
}

TEST_F(PendingFileTest, AWriteThatFailsLeavesTheOldFileWhole) {
    ASSERT_TRUE(gc::writePendingQueues(path(), "G:1", queues(1, "old")));
    const std::string before = readFile(path());
    // Files may not grow past twice the old one: the long queue cannot be written.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = before.size() * 2;
    setrlimit(RLIMIT_FSIZE, &small);
    testing::internal::CaptureStderr();
    const bool written = gc::writePendingQueues(path(), "G:1", queues(200, "long"));
    testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(readFile(path()), before);
}

void expectNear(const Rect& actual, const Rect& expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
    EXPECT_NEAR(actual.width, expected.width, 1e-9);
    EXPECT_NEAR(actual.height, expected.height, 1e-9);
}

// The banner's frames in the fixed portrait coordinates of a 320 x 480 screen, as the device's
// table gives them, and where they land in the interface: along its top edge, at rest 10 points
// under the status bar.
TEST(AchievementBanner, FramesForEveryOrientationRatioAndStatusBar) {
    const double W = 320, H = 480;
    for (const double r : {0.6, 0.88})
        for (const double S : {0.0, 20.0})
            for (const int o : {1, 2, 3, 4, 9}) {
                SCOPED_TRACE(testing::Message() << "r " << r << " S " << S << " orientation " << o);
                const gc::BannerScreen screen{W, H, S, o, r};
                const struct {
                    int o;
                    Rect start, end;
                } table[] = {
                    {1, {W * (1 - r) / 2, -53, W * r, 52}, {W * (1 - r) / 2, -53 + S + 63, W * r, 52}},
                    {2, {W * (1 - r) / 2, H + 53, W * r, 52}, {W * (1 - r) / 2, H + 53 - (S + 63 + 52), W * r, 52}},
                    {3, {W + 53, H * (1 - r) / 2, 52, H * r}, {W + 53 - (S + 63 + 52), H * (1 - r) / 2, 52, H * r}},
                    {4, {-53, H * (1 - r) / 2, 52, H * r}, {-53 + S + 63, H * (1 - r) / 2, 52, H * r}},
                };
                const auto& row = table[gc::bannerOrientation(o) - 1];
                expectNear(gc::bannerStartFrame(screen), row.start);
                expectNear(gc::bannerEndFrame(screen), row.end);
                // The length along the window's edge, never a status bar's (there is none).
                const double edge = row.o >= 3 ? H : W;
                expectNear(gc::bannerDefaultSize(screen), {0, 0, edge * r, 52});
                const Rect rest = gc::bannerInterfaceFrame(row.end, screen);
                expectNear(rest, {edge * (1 - r) / 2, S + 10, edge * r, 52});
                const Rect away = gc::bannerInterfaceFrame(row.start, screen);
                EXPECT_LE(away.y + away.height, 0);
                const Rect bounds{0, 0, rest.width, rest.height};
                for (const bool logo : {false, true}) {
                    EXPECT_GT(gc::bannerText1Frame(bounds, logo).width, 100);
                    EXPECT_EQ(gc::bannerText2Frame(bounds, logo).y, 20);
                }
            }
}

// Trace lines of "gkbanner" with their times, while it lives.
class BannerTrace {
public:
    BannerTrace() { plat::foundation::Trace::configure("gkbanner", m_dir.file("trace").c_str()); }
    ~BannerTrace() { plat::foundation::Trace::configure("", ""); }
    std::string text() { return readFile(m_dir.file("trace")); }

private:
    TempDir m_dir;
};

TEST(AchievementBanner, BannersShowOneAtATimeInTheOrderAskedFor) {
    auto& clock = plat::foundation::Clock::process();
    clock.setVirtual(true);
    plat::sys::Device::current().reset();
    plat::ui::Application app;
    auto window = std::make_shared<plat::ui::Window>(Rect{0, 0, 320, 480});
    window->makeKeyAndVisible();
    BannerTrace trace;
    const double start = clock.now();
    auto& handler = GKAchievementHandler::defaultHandler();
    handler.notifyAchievementTitle("One", "first");
    handler.notifyAchievementTitle("Two", "");
    handler.notifyAchievement({"id3", "Three", "third"});
    // Sampled every 0.05 s: never two banners in the window, and each the one at the queue's head.
    size_t most = 0;
    for (int i = 0; i < 170; ++i) {
        plat::foundation::RunLoop::main().runFor(0.05);
        size_t shown = 0;
        for (const auto& view : window->subviews())
            if (dynamic_cast<GKAchievementNotification*>(view.get())) {
                ++shown;
                EXPECT_EQ(view.get(), handler.queue().front().get());
            }
        most = std::max(most, shown);
    }
    EXPECT_EQ(most, 1u);
    EXPECT_TRUE(handler.queue().empty());
    // Each 0.4 s in, 1.75 s at rest, 0.4 s out.
    std::ostringstream expected;
    const struct {
        double at;
        const char* line;
    } lines[] = {{0, "show One|first"},     {2.55, "hidden One"}, {2.55, "show Two|"},
                 {5.10, "hidden Two"},      {5.10, "show Three|third"}, {7.65, "hidden Three"}};
    for (const auto& l : lines) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "t=%.6f", start + l.at);
        expected << stamp << " gkbanner " << l.line << "\n";
    }
    EXPECT_EQ(trace.text(), expected.str());
}

// The message line shrinks to fit the banner's width, measured by Pango in the font it draws
// with, down to 10 points and no further; the title line keeps its 15 points.
TEST(AchievementBanner, TheMessageShrinksToFitDownToTenPoints) {
    plat::foundation::Clock::process().setVirtual(true);
    plat::sys::Device::current().reset();
    plat::ui::Application app;
    auto window = std::make_shared<plat::ui::Window>(Rect{0, 0, 320, 480});
    window->makeKeyAndVisible();
    const double width = std::make_shared<GKAchievementNotification>("t", "m")->detailLabel().bounds().width;
    ASSERT_GT(width, 100);
    const plat::ui::Font natural{"HelveticaNeue", 11};
    // The shortest message too wide at 11 points: it fits at 10.
    std::string barely;
    while (plat::ui::textWidth(barely, natural) <= width) barely += barely.size() % 7 == 6 ? ' ' : 'm';
    const struct {
        std::string message;
        bool shrinks, fits;
    } cases[] = {
        {"Ten coins", false, true},
        {barely, true, true},
        {barely + barely, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        auto banner = std::make_shared<GKAchievementNotification>(std::string(500, 'W'), c.message);
        const plat::ui::Label& detail = banner->detailLabel();
        const plat::ui::Font drawn = detail.drawnFont();
        EXPECT_EQ(drawn.name, "HelveticaNeue");
        EXPECT_GE(drawn.size, 10);
        EXPECT_EQ(drawn.size < 11, c.shrinks);
        EXPECT_EQ(plat::ui::textWidth(c.message, drawn) <= width, c.fits);
        if (c.shrinks && c.fits) {
            plat::ui::Font larger = drawn;
            larger.size += 0.1;
            EXPECT_GT(plat::ui::textWidth(c.message, larger), width) << "the largest size that fits";
        }
        if (!c.fits) {
            EXPECT_EQ(drawn.size, 10);
        }
        EXPECT_EQ(banner->textLabel().drawnFont().size, 15);
    }
}

}  // namespace
}  // namespace dktest
