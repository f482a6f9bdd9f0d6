// The run loop on a virtual clock of its own: timers, delayed calls, the return rules of runOnce,
// nested runs, calls from other threads and fd sources.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::FdSource;
using plat::foundation::kFdRead;
using plat::foundation::NotificationCenter;
using plat::foundation::PollContext;
using plat::foundation::Observation;
using plat::foundation::RunLoop;
using plat::foundation::Timer;
using Result = RunLoop::RunResult;

std::string stamped(const std::string& what, double time) {
    char at[32];
    std::snprintf(at, sizeof at, "@%g", time);
    return what + at;
}

// A loop on a fresh virtual clock, and a record of what ran when ("name@time").
struct VirtualLoop {
    std::shared_ptr<Clock> clock = std::make_shared<Clock>(Clock::Kind::Virtual);
    RunLoop loop{clock};
    std::vector<std::string> events;

    void note(const std::string& what) { events.push_back(stamped(what, loop.now())); }
    std::function<void()> noting(std::string what) {
        return [this, what] { note(what); };
    }
};

class RunLoopTest : public ::testing::Test, protected VirtualLoop {};

// A pipe closed with the test.
struct Pipe {
    int fds[2];
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() {
        close(fds[0]);
        if (fds[1] >= 0) close(fds[1]);
    }
    void put() const { EXPECT_EQ(write(fds[1], "x", 1), 1); }
};

TEST_F(RunLoopTest, TimersFireAtTheirVirtualTimes) {
    struct Case {
        double delay;
        bool repeating;
        double runFor;
        std::vector<std::string> fired;
    };
    const Case cases[] = {
        {30, false, 45, {"t@30"}},
        {30, false, 29.5, {}},
        {0.25, true, 1, {"t@0.25", "t@0.5", "t@0.75", "t@1"}},
        {10, true, 35, {"t@10", "t@20", "t@30"}},
    };
    for (const Case& c : cases) {
        VirtualLoop v;
        std::vector<std::string> fired;
        auto fn = [&] { fired.push_back(stamped("t", v.loop.now())); };
        Timer timer = c.repeating ? v.loop.addRepeatingTimer(c.delay, fn) : v.loop.addTimer(c.delay, fn);
        EXPECT_EQ(v.loop.runFor(c.runFor), Result::TimedOut);
        EXPECT_EQ(fired, c.fired) << c.delay << " for " << c.runFor;
        EXPECT_EQ(v.clock->now(), c.runFor);
    }
}

// A timer with a tolerance fires on the first turn after its delay that the loop makes for
// anything else, and wakes the loop itself only when its tolerance is spent.
TEST(RunLoopTolerance, ATimerRidesOnOtherWakeUpsAndWakesTheLoopOnlyAtItsWindowsEnd) {
    struct Arm {
        const char* name;
        double delay, tolerance;
    };
    const struct Case {
        const char* what;
        std::vector<Arm> timers;
        std::vector<std::string> fired;
    } cases[] = {
        {"alone", {{"t", 1, 1}}, {"t@2"}},
        {"no tolerance", {{"t", 1, 0}}, {"t@1"}},
        {"another timer in its window", {{"t", 1, 1}, {"o", 1.5, 0}}, {"t@1.5", "o@1.5"}},
        {"another timer before its delay", {{"t", 1, 1}, {"o", 0.5, 0}}, {"o@0.5", "t@2"}},
        {"a later one whose window ends first", {{"a", 1, 1}, {"b", 1.5, 0.2}}, {"a@1.7", "b@1.7"}},
        {"the run's end in its window", {{"t", 2, 5}}, {"t@3"}},
    };
    for (const Case& c : cases) {
        VirtualLoop v;
        std::vector<Timer> timers;
        for (const Arm& arm : c.timers)
            timers.push_back(v.loop.addTimer(arm.delay, arm.tolerance, v.noting(arm.name)));
        EXPECT_EQ(v.loop.runFor(3), Result::TimedOut) << c.what;
        EXPECT_EQ(v.events, c.fired) << c.what;
    }
}

TEST(VirtualStart, TimesCountFromTheStartNotFromTheRealTimeBefore) {
    // A headless launch at virtual 0 after real start-up work: its timers and trace lines must
    // read exact times, not the instants start-up took.
    auto clock = std::make_shared<Clock>(Clock::Kind::Real);
    while (clock->now() == 0) {
    }
    clock->startVirtualAt(0);
    EXPECT_EQ(clock->now(), 0);
    RunLoop loop{clock};
    double fired = -1;
    Timer timer = loop.addTimer(1.5, [&] { fired = loop.now(); });
    loop.runFor(2);
    EXPECT_EQ(fired, 1.5);
}

TEST_F(RunLoopTest, InvalidatedTimersAreNotCalled) {
    Timer dropped = loop.addTimer(1, noting("dropped"));
    dropped = Timer();  // the handle goes: the timer with it
    Timer once;
    once = loop.addRepeatingTimer(1, [&] {
        note("once");
        once.invalidate();
    });
    Timer later;
    Timer first = loop.addTimer(2, [&] {
        note("first");
        later.invalidate();  // due at the same time, after this one
    });
    later = loop.addTimer(2, noting("later"));
    EXPECT_FALSE(dropped.isValid());
    loop.runFor(5);
    EXPECT_EQ(events, (std::vector<std::string>{"once@1", "first@2"}));
    EXPECT_FALSE(first.isValid());  // a one-shot timer that fired
}

TEST(RunLoopRunOnce, ReturnsAfterTheFirstSourceOrAtTheLimit) {
    struct Case {
        const char* what;
        std::function<void(VirtualLoop&, Pipe&)> setUp;
        Result result;
        double endsAt;
        std::vector<std::string> ran;
    };
    const Case cases[] = {
        {"nothing", [](auto&, auto&) {}, Result::TimedOut, 2, {}},
        {"a delayed call does not end it",
         [](VirtualLoop& v, auto&) { v.loop.performAfter(1, nullptr, v.noting("call")); },
         Result::TimedOut,
         2,
         {"call@1"}},
        {"posted work",
         [](VirtualLoop& v, auto&) { v.loop.perform(v.noting("post")); },
         Result::SourceHandled,
         0,
         {"post@0"}},
        {"one post per run",
         [](VirtualLoop& v, auto&) {
             v.loop.perform(v.noting("a"));
             v.loop.perform(v.noting("b"));
         },
         Result::SourceHandled,
         0,
         {"a@0"}},
        {"a queue block",
         [](VirtualLoop& v, auto&) { v.loop.queue().async(v.noting("block")); },
         Result::SourceHandled,
         0,
         {"block@0"}},
        {"work a timer posts",
         [](VirtualLoop& v, auto&) {
             v.loop.performAfter(1, nullptr, [&v] { v.loop.perform(v.noting("post")); });
         },
         Result::SourceHandled,
         1,
         {"post@1"}},
        {"an fd event", [](auto&, Pipe& p) { p.put(); }, Result::SourceHandled, 0, {"read@0"}},
        {"stop",
         [](VirtualLoop& v, auto&) { v.loop.performAfter(1.5, nullptr, [&v] { v.loop.stop(); }); },
         Result::Stopped,
         1.5,
         {}},
    };
    for (const Case& c : cases) {
        VirtualLoop v;
        Pipe pipe;
        FdSource source = v.loop.addFdSource(pipe.fds[0], kFdRead, [&](unsigned events) {
            char byte;
            EXPECT_EQ(read(pipe.fds[0], &byte, 1), 1);
            v.note(events == kFdRead ? "read" : "other");
        });
        c.setUp(v, pipe);
        EXPECT_EQ(v.loop.runOnce(2), c.result) << c.what;
        EXPECT_EQ(v.loop.now(), c.endsAt) << c.what;
        EXPECT_EQ(v.events, c.ran) << c.what;
    }
}

// A run nested in a queue block: QueueTest, on the main queue.
TEST_F(RunLoopTest, ARunNestedInATimerRunsBlocks) {
    loop.performAfter(1, nullptr, [&] {
        loop.queue().async(noting("block"));
        EXPECT_EQ(loop.runOnce(5), Result::SourceHandled);
        note("timer done");
    });
    loop.runFor(2);
    EXPECT_EQ(events, (std::vector<std::string>{"block@1", "timer done@1"}));
}

// Where the compositor commits: after each turn's work, inside nested runs too, never re-entered.
TEST_F(RunLoopTest, TurnObserversRunAfterEachTurnNestedRunsIncluded) {
    plat::foundation::TurnObserver removed;
    plat::foundation::TurnObserver observer = loop.addTurnObserver([&] {
        note("turn end");
        loop.runOnce(0);  // a run inside the observer does not call it again
    });
    removed = loop.addTurnObserver([&] {
        note("removed");
        removed.remove();  // from inside its own call
    });
    loop.performAfter(1, nullptr, [&] {
        note("timer");
        loop.perform(noting("posted"));
        EXPECT_EQ(loop.runOnce(5), Result::SourceHandled);
        note("timer done");
    });
    loop.runFor(2);
    EXPECT_EQ(events, (std::vector<std::string>{"turn end@0", "removed@0", "timer@1", "posted@1", "turn end@1",
                                                "timer done@1", "turn end@1", "turn end@2"}));
    observer.remove();
    events.clear();
    loop.runFor(1);
    EXPECT_TRUE(events.empty());
}

TEST_F(RunLoopTest, PerformAndWaitRunsOnTheLoopsThread) {
    // Inline on the loop's own thread, without a turn.
    EXPECT_TRUE(loop.performAndWait(noting("inline")));
    EXPECT_EQ(events, (std::vector<std::string>{"inline@0"}));

    std::thread::id ranOn;
    std::string thrown;
    std::thread other([&] {
        loop.performAndWait([&] { ranOn = std::this_thread::get_id(); });
        try {
            loop.performAndWait([] { throw std::runtime_error("from the loop"); });
        } catch (const std::runtime_error& e) {
            thrown = e.what();
        }
        loop.stop();
    });
    loop.run();
    other.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(thrown, "from the loop");
}

TEST_F(RunLoopTest, CancelPerformsDropsOnlyThatTargetsCalls) {
    int a = 0, b = 0;
    loop.performAfter(1, &a, noting("a1"));
    loop.performAfter(2, &b, [&] {
        note("b");
        loop.cancelPerforms(&a);
    });
    loop.performAfter(2, &a, noting("a2"));  // due with b's, after it
    loop.performAfter(3, &a, noting("a3"));
    loop.performAfter(4, nullptr, noting("none"));
    loop.cancelPerforms(nullptr);  // null is no target
    loop.runFor(5);
    EXPECT_EQ(events, (std::vector<std::string>{"a1@1", "b@2", "none@4"}));
}

// An object whose delayed calls, timer and observation all end with it.
class Blinker {
public:
    Blinker(RunLoop& loop, NotificationCenter& center, std::vector<std::string>& out) : m_loop(loop) {
        m_loop.performAfter(1, this, [&out] { out.push_back("delayed"); });
        m_timer = m_loop.addRepeatingTimer(0.5, [&out] { out.push_back("tick"); });
        m_observation = center.observe("ping", nullptr, [&out](const auto&) { out.push_back("ping"); });
    }
    ~Blinker() { m_loop.cancelPerforms(this); }

private:
    RunLoop& m_loop;
    Timer m_timer;
    Observation m_observation;
};

TEST_F(RunLoopTest, DestroyingAnObjectCancelsItsCallsAndObservations) {
    NotificationCenter center;
    auto blinker = std::make_unique<Blinker>(loop, center, events);
    loop.performAfter(0.75, nullptr, [&] { blinker.reset(); });
    loop.runFor(3);
    center.post("ping");
    EXPECT_EQ(events, (std::vector<std::string>{"tick"}));
}

TEST_F(RunLoopTest, FdSourcesReportReadinessUntilRemoved) {
    Pipe pipe;
    std::vector<unsigned> seen;
    FdSource source = loop.addFdSource(pipe.fds[0], kFdRead, [&](unsigned events) {
        seen.push_back(events);
        char c;
        if (read(pipe.fds[0], &c, 1) == 0) source.remove();  // the end: nothing more to read
    });
    pipe.put();
    EXPECT_EQ(loop.runOnce(1), Result::SourceHandled);
    source.setEvents(0);
    pipe.put();
    EXPECT_EQ(loop.runOnce(1), Result::TimedOut);  // not asked for
    source.setEvents(kFdRead);
    EXPECT_EQ(loop.runOnce(1), Result::SourceHandled);
    close(pipe.fds[1]);
    pipe.fds[1] = -1;
    EXPECT_EQ(loop.runOnce(1), Result::SourceHandled);  // the hang-up reads as readable
    EXPECT_EQ(loop.runOnce(1), Result::TimedOut);       // removed by its own callback
    EXPECT_EQ(seen, (std::vector<unsigned>{kFdRead, kFdRead, kFdRead}));
}

TEST_F(RunLoopTest, WorkInFlightDelaysJumpsButDoesNotStopThem) {
    // A transfer: its hold is the short one, so the test waits seconds, not tens.
    auto work = clock->beginWork(plat::foundation::WorkKind::Transfer);
    loop.performAfter(30, nullptr, noting("timer"));
    EXPECT_EQ(loop.runFor(60), Result::TimedOut);
    EXPECT_EQ(events, (std::vector<std::string>{"timer@30"}));
}

TEST_F(RunLoopTest, ASilentTransferDoesNotHoldEveryJumpForAGrace) {
    // Sixty-four jumps a second, as a game's frames: a grace at each would make two virtual
    // seconds take two minutes. The bound only keeps that fault from hanging the test.
    auto silent = clock->beginWork(plat::foundation::WorkKind::Transfer);
    int frames = 0;
    Timer timer = loop.addRepeatingTimer(1.0 / 64, [&] { ++frames; });
    const double start = Clock::monotonicSeconds();
    while (loop.now() < 2 && Clock::monotonicSeconds() - start < 30) loop.runFor(0.5);
    EXPECT_EQ(frames, 128);

    // A transfer that starts afterwards is waited for again: its answer lands where it was awaited.
    auto next = std::make_shared<plat::foundation::WorkInFlight>(clock->beginWork(plat::foundation::WorkKind::Transfer));
    std::thread peer([&, next] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        loop.perform(noting("answer"));
        next->end();
    });
    next.reset();
    loop.performAfter(1.0 / 128, nullptr, noting("awaited"));
    loop.runFor(1.0 / 64);
    peer.join();
    EXPECT_EQ(events, (std::vector<std::string>{"answer@2", "awaited@2.00781"}));
}

// A foreign loop with one descriptor: dispatch drains it and notes the time; `inside` runs in
// the dispatch (a nested run, say).
struct PipeContext : PollContext {
    Pipe pipe;
    VirtualLoop& owner;
    std::function<void()> inside;
    int prepared = 0;
    std::size_t at = 0;
    explicit PipeContext(VirtualLoop& o) : owner(o) { owner.loop.setPollContext(this); }
    ~PipeContext() override { owner.loop.setPollContext(nullptr); }
    double prepare(std::vector<pollfd>& fds) override {
        ++prepared;
        at = fds.size();
        fds.push_back({pipe.fds[0], POLLIN, 0});
        return -1;
    }
    bool dispatch(const std::vector<pollfd>& fds) override {
        if (fds.size() <= at || !(fds[at].revents & POLLIN)) return false;
        char c;
        EXPECT_EQ(read(pipe.fds[0], &c, 1), 1);
        owner.note("context");
        if (inside) inside();
        return true;
    }
};

TEST_F(RunLoopTest, APollContextRunsAsInputAndWakesAWaitForWorkInFlight) {
    PipeContext context(*this);
    context.pipe.put();
    EXPECT_EQ(loop.runOnce(1), Result::SourceHandled);
    EXPECT_EQ(loop.runOnce(1), Result::TimedOut);  // drained: the clock jumped

    // Work in flight holds the jump; the foreign loop's descriptor ends the wait.
    auto work = clock->beginWork();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        context.pipe.put();
    });
    EXPECT_EQ(loop.runOnce(5), Result::SourceHandled);
    writer.join();
    EXPECT_EQ(events, (std::vector<std::string>{"context@0", "context@1"}));
}

TEST_F(RunLoopTest, ARunNestedInAPollContextsDispatchLeavesTheContextAlone) {
    PipeContext context(*this);
    int preparedInside = -1;
    context.inside = [&] {
        const int before = context.prepared;
        context.pipe.put();  // would be dispatched again if the nested run turned the context
        loop.perform(noting("posted"));
        loop.runOnce(0);
        preparedInside = context.prepared - before;
        context.inside = nullptr;
    };
    context.pipe.put();
    loop.runOnce(1);
    EXPECT_EQ(preparedInside, 0);
    loop.runOnce(1);  // the byte left for the outer loop's next turn
    EXPECT_EQ(events, (std::vector<std::string>{"context@0", "posted@0", "context@0"}));
}

}  // namespace
