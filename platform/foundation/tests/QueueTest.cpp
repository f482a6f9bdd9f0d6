// The main queue on the process's loop, serial queues, the worker pool and loop threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"

namespace {

using namespace plat::foundation;

TEST(MainQueue, ARunNestedInABlockRunsTimersAndPostsButNoBlock) {
    Clock::process().setVirtual(true);
    RunLoop& main = RunLoop::main();
    double start = main.now();
    std::vector<std::string> events;
    auto note = [&](const char* what) {
        events.push_back(what + std::to_string(std::lround(main.now() - start)));
    };
    mainAsync([&] {
        note("A@");
        mainAfter(1, [&] { note("late@"); });
        main.performAfter(2, nullptr, [&] { note("call@"); });
        main.perform([&] { note("post@"); });
        EXPECT_EQ(main.runFor(3), RunLoop::RunResult::TimedOut);  // the call and post run in here, no block
        note("A done@");
    });
    mainAsync([&] { note("B@"); });
    main.runFor(5);
    EXPECT_EQ(events, (std::vector<std::string>{"A@0", "post@0", "call@2", "A done@3", "B@3", "late@3"}));
}

TEST(SerialQueue, RunsBlocksOneAtATimeInOrder) {
    std::vector<int> order;  // unguarded: only the queue's blocks touch it
    {
        SerialQueue queue("test.serial");
        std::vector<std::thread> submitters;
        for (int t = 0; t < 4; ++t)
            submitters.emplace_back([&, t] {
                for (int i = 0; i < 100; ++i) queue.async([&order, t, i] { order.push_back(t * 1000 + i); });
            });
        for (auto& s : submitters) s.join();
    }  // waits for the blocks
    ASSERT_EQ(order.size(), 400u);
    std::vector<int> last(4, -1);
    for (int v : order) {
        EXPECT_GT(v % 1000, last[v / 1000]);  // each submitter's blocks keep their order
        last[v / 1000] = v % 1000;
    }
}

TEST(WorkerPool, RunsEveryBlockBeforeItGoes) {
    std::atomic<int> count{0};
    {
        WorkerPool pool(3);
        for (int i = 0; i < 200; ++i) pool.async([&] { ++count; });
    }
    EXPECT_EQ(count, 200);
}

TEST(LoopThread, RunsItsOwnLoopUntilDestroyed) {
    LoopThread thread("test.loop");
    RunLoop* seen = nullptr;
    std::thread::id id;
    EXPECT_TRUE(thread.loop().performAndWait([&] {
        seen = &RunLoop::current();
        id = std::this_thread::get_id();
    }));
    EXPECT_EQ(seen, &thread.loop());
    EXPECT_NE(id, std::this_thread::get_id());
    // A nested run under way on the thread does not keep it from ending.
    thread.loop().perform([&] { thread.loop().runFor(1e9); });
}

// On the process's virtual clock, only the main loop moves time; a thread's timers fire once
// it has moved past them.
TEST(LoopThread, TimersFollowTheMainLoopsVirtualClock) {
    Clock::process().setVirtual(true);
    LoopThread thread;
    double start = Clock::process().now();
    double firedAt = -1;
    Timer timer;
    thread.loop().performAndWait(
        [&] { timer = thread.loop().addTimer(5, [&] { firedAt = Clock::process().now(); }); });
    RunLoop::main().runFor(4);
    double early = 0;
    thread.loop().performAndWait([&] { early = firedAt; });
    EXPECT_EQ(early, -1);
    RunLoop::main().runFor(6);
    // The thread sees the jump to 10 a moment after it is made.
    double fired = -1;
    while (thread.loop().performAndWait([&] { fired = firedAt; }) && fired < 0) std::this_thread::yield();
    EXPECT_DOUBLE_EQ(fired - start, 10);
    thread.loop().performAndWait([&] { timer.invalidate(); });
}

}  // namespace
