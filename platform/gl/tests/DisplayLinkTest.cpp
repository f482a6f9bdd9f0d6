// The frame clock on a virtual clock: beats, frame intervals, pausing in step, and the end of a
// link from inside its own tick.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "platform/gl/DisplayLink.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;
using plat::gl::DisplayLink;

struct VirtualLoop {
    std::shared_ptr<Clock> clock = std::make_shared<Clock>(Clock::Kind::Virtual);
    RunLoop loop{clock};
    std::vector<long> beats;  // each tick's clock time in 1/60 s, rounded

    void note() { beats.push_back(std::lround(loop.now() * 60)); }
    std::function<void()> recorder() {
        return [this] { note(); };
    }
};

TEST(DisplayLink, TicksEveryIntervalSixtiethsOfTheLoopClock) {
    const struct Case {
        int interval;
        double runFor;
        std::vector<long> beats;
    } cases[] = {
        {1, 5.5 / 60, {1, 2, 3, 4, 5}},
        {2, 7.0 / 60, {2, 4, 6}},
        {3, 6.0 / 60, {3, 6}},
        {0, 2.0 / 60, {1, 2}},  // below 1 counts as 1
    };
    for (const Case& c : cases) {
        VirtualLoop v;
        DisplayLink link(v.recorder());
        link.setFrameInterval(c.interval);
        link.addToRunLoop(v.loop);
        v.loop.runFor(c.runFor);
        EXPECT_EQ(v.beats, c.beats) << "interval " << c.interval;
    }
}

TEST(DisplayLink, TicksLandOnTheBeatAfterAThousandFrames) {
    VirtualLoop v;
    DisplayLink link(v.recorder());
    link.addToRunLoop(v.loop);
    v.loop.runFor(1000.5 / 60);
    ASSERT_EQ(v.beats.size(), 1000u);
    EXPECT_EQ(v.beats.back(), 1000);
    EXPECT_DOUBLE_EQ(link.timestamp(), 1000.0 / 60);
}

TEST(DisplayLink, APausedLinkIsSilentAndResumesInStep) {
    VirtualLoop v;
    DisplayLink link(v.recorder());
    link.addToRunLoop(v.loop);
    v.loop.runFor(2.5 / 60);
    link.setPaused(true);
    v.loop.runFor(3.0 / 60);  // to 5.5
    EXPECT_EQ(v.beats, (std::vector<long>{1, 2}));
    link.setPaused(false);
    v.loop.runFor(2.0 / 60);  // to 7.5: the beats 6 and 7, not 6.5 and 7.5
    EXPECT_EQ(v.beats, (std::vector<long>{1, 2, 6, 7}));
}

TEST(DisplayLink, NothingTicksAfterTheLinkEndsInItsOwnTick) {
    for (bool destroy : {false, true}) {
        VirtualLoop v;
        auto link = std::make_unique<DisplayLink>(nullptr);
        int ticks = 0;
        link = std::make_unique<DisplayLink>([&] {
            ++ticks;
            if (ticks < 2) return;
            if (destroy)
                link.reset();
            else
                link->invalidate();
        });
        link->addToRunLoop(v.loop);
        v.loop.runFor(10.0 / 60);
        EXPECT_EQ(ticks, 2) << (destroy ? "destroyed" : "invalidated");
    }
}

TEST(DisplayLink, ANewIntervalCountsFromTheLastTick) {
    VirtualLoop v;
    DisplayLink link(v.recorder());
    link.addToRunLoop(v.loop);
    v.loop.runFor(2.5 / 60);
    link.setFrameInterval(3);
    v.loop.runFor(6.0 / 60);  // to 8.5
    EXPECT_EQ(v.beats, (std::vector<long>{1, 2, 5, 8}));
}

TEST(DisplayLink, ALateTickStandsForTheLastBeatPassed) {
    // Time the link's loop did not see (another loop drove the clock for 0.1 s inside a tick):
    // the one late tick carries the last beat passed, and the next comes on the beat after it.
    VirtualLoop v;
    RunLoop elsewhere{v.clock};
    std::vector<double> stamps;
    bool busy = true;
    DisplayLink* self = nullptr;
    DisplayLink link([&] {
        stamps.push_back(std::round(self->timestamp() * 60));
        v.note();
        if (std::exchange(busy, false)) elsewhere.runFor(6.5 / 60);
    });
    self = &link;
    link.addToRunLoop(v.loop);
    v.loop.runFor(9.2 / 60);
    EXPECT_EQ(stamps, (std::vector<double>{1, 7, 8, 9}));
    EXPECT_EQ(v.beats, (std::vector<long>{1, 8, 8, 9}));  // the late tick came at 7.5
}

}  // namespace
