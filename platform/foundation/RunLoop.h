// One thread's event loop: timers, delayed calls, posted work, a serial block queue, fd sources.
// Every thread may have one (current(); the initial thread's is main()). A turn fires the due timers
// and delayed calls (performAfter, dropped by cancelPerforms(target)), then handles input: posted
// work (perform, performAndWait), blocks of the loop's serial queue (the main queue on the main loop)
// and ready fd sources (poll, an eventfd for wake-ups). runOnce(limit) returns after the first input
// it handles or at the limit (timers never end it), runFor runs everything due until then, run until
// stop. The main queue is never re-entered: a run nested in one of its blocks (a loading callback's
// runFor inside the game-load block) fires timers and handles posts and fds but runs no block.
//
// On a virtual clock the loop that drives it (the main loop for the process clock, or a loop made
// with a clock of its own) jumps time forward (Clock.h); other loops on that clock wait until it has
// moved past their timers. A turn observer (addTurnObserver) runs at the end of every turn, nested
// runs' included, never re-entered: where the compositor commits. Timers, fd sources, turn
// observers and observations are handles that undo themselves when destroyed, and an object with
// delayed calls cancels them in its destructor, so nothing calls back into a dead object.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/Clock.h"

namespace plat::foundation {

class Queue;
struct RunLoopState;

// A timer's handle. The timer fires until invalidated; destroying the handle invalidates it, so
// an object that keeps its timers as members can never be called after it is gone. Invalidating
// on the loop's own thread guarantees no further call, also from inside the timer's own call.
class [[nodiscard]] Timer {
public:
    Timer() = default;
    Timer(Timer&&) noexcept = default;
    Timer& operator=(Timer&& other) noexcept;
    ~Timer() { invalidate(); }
    void invalidate();
    // False once invalidated, once a one-shot timer has fired, or when its loop is gone.
    bool isValid() const;

private:
    friend class RunLoop;
    friend struct RunLoopState;
    struct Record;
    Timer(std::weak_ptr<RunLoopState> loop, std::shared_ptr<Record> record);
    std::weak_ptr<RunLoopState> m_loop;
    std::shared_ptr<Record> m_record;
};

// Readiness of a file descriptor, asked for and reported. A hang-up reads as kFdRead (the reader
// then sees the end), an error or a closed descriptor as kFdError.
inline constexpr unsigned kFdRead = 1, kFdWrite = 2, kFdError = 4;

// An fd source's handle; destroying it removes the source.
class [[nodiscard]] FdSource {
public:
    FdSource() = default;
    FdSource(FdSource&&) noexcept = default;
    FdSource& operator=(FdSource&& other) noexcept;
    ~FdSource() { remove(); }
    // What to wait for from now on (0: nothing, the source stays registered).
    void setEvents(unsigned events);
    void remove();

private:
    friend class RunLoop;
    friend struct RunLoopState;
    struct Record;
    FdSource(std::weak_ptr<RunLoopState> loop, std::shared_ptr<Record> record);
    std::weak_ptr<RunLoopState> m_loop;
    std::shared_ptr<Record> m_record;
};

// An observer of a loop's turn ends; destroying the handle removes it. Made and removed on the
// loop's own thread.
class [[nodiscard]] TurnObserver {
public:
    TurnObserver() = default;
    TurnObserver(TurnObserver&&) noexcept = default;
    TurnObserver& operator=(TurnObserver&& other) noexcept;
    ~TurnObserver() { remove(); }
    void remove();

private:
    friend class RunLoop;
    friend struct RunLoopState;
    struct Record;
    explicit TurnObserver(std::shared_ptr<Record> record) : m_record(std::move(record)) {}
    std::shared_ptr<Record> m_record;
};

// Another event loop's sources, turned by a run loop on its thread (GLib's default main context,
// for the page engine). Each turn, and around each wait, the loop asks for the descriptors and the
// longest wait, polls them together with its own, and hands the results back.
class PollContext {
public:
    virtual ~PollContext() = default;
    // Appends the descriptors to watch to `fds` and returns the longest wait in seconds (negative:
    // no limit; 0: something is ready now).
    virtual double prepare(std::vector<pollfd>& fds) = 0;
    // The same list (entries before those it appended may belong to others) with the results:
    // runs what is ready; true when anything ran.
    virtual bool dispatch(const std::vector<pollfd>& fds) = 0;
};

// Each thread has one (`current()`); the main thread's is `main()`. Everything may be called from
// any thread, but runs happen on the loop's own thread and callbacks are called there.
//
// A turn fires the due timers (timers and delayed calls), then handles input: posted work, blocks
// of the loop's serial queue (the main queue on the main loop) and ready fd sources. The serial
// queue is never re-entered: a run nested inside one of its blocks fires timers and handles
// posted work and fds, but runs no block; a nested run started from anything else may.
//
// On a virtual clock, the loop that drives it (the main loop for the process clock, or a loop
// made with a clock of its own) polls fds without waiting and, when nothing is ready, jumps the
// clock to the next timer or to the run's limit; while work is in flight (Clock::beginWork) it
// first waits for that work to deliver (see WorkInFlight for how long). Other loops on a virtual clock
// wait until it has moved past their timers.
class RunLoop {
public:
    enum class RunResult { SourceHandled, TimedOut, Stopped };

    static RunLoop& main();
    static RunLoop& current();

    // A loop of the calling thread that is not its current(): on `clock` (driving it; null: the
    // process clock, not driving it). For tests and hosts that own their loop.
    explicit RunLoop(std::shared_ptr<Clock> clock = nullptr);
    // Pending work is dropped (performAndWait callers are released); handles become inert.
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    Clock& clock() const;
    double now() const { return clock().now(); }
    bool isCurrentThread() const;

    // Timers fire on a turn once their time has come; a repeating one keeps its phase and skips
    // the beats it missed. Intervals below 0.1 ms count as 0.1 ms.
    Timer addTimer(double delay, std::function<void()> fn);
    Timer addRepeatingTimer(double interval, std::function<void()> fn);
    // A one-shot timer that may come up to `tolerance` seconds after `delay`: once the delay has
    // passed it fires on the next turn the loop makes anyway, and the loop wakes for it only when
    // the tolerance is spent. Work that rides on other wake-ups costs none of its own.
    Timer addTimer(double delay, double tolerance, std::function<void()> fn);

    // A delayed call owned by `target` (any address identifying an object; null for none),
    // cancelled with all others of that target by cancelPerforms: call it from the destructor.
    void performAfter(double delay, const void* target, std::function<void()> fn);
    void cancelPerforms(const void* target);

    // Posted work, run on a later turn of this loop's thread; counts as an input source.
    void perform(std::function<void()> fn);
    // Runs `fn` on the loop's thread and returns when it has run: inline on that thread, else
    // posted and waited for (an exception `fn` throws is rethrown here). The loop must turn; false
    // when it was destroyed first and `fn` never ran.
    bool performAndWait(const std::function<void()>& fn);

    // The loop's serial block queue (the main queue on the main loop).
    Queue& queue();

    FdSource addFdSource(int fd, unsigned events, std::function<void(unsigned events)> fn);

    // Turns `context` with the loop from now on (null: none; the loop's thread only; not owned,
    // set it back to null before it goes). A loop without one pays nothing for the hook. What the
    // context runs counts as input handled; a run nested inside its dispatch leaves it alone.
    void setPollContext(PollContext* context);

    // `fn` runs at the end of every turn, nested runs' included: after the turn's timers and
    // input, before the loop waits or the run returns (not while the thread is leaving). What a
    // turn changed on screen is committed there. An observer's own call is never re-entered.
    TurnObserver addTurnObserver(std::function<void()> fn);

    // Runs until the first input source has been handled (posted work, a queue block, an fd
    // source) or until `limit` seconds have passed; timers do not end it.
    RunResult runOnce(double limit);
    // Runs everything that comes due in the next `seconds`; returns at that time (or on stop()).
    RunResult runFor(double seconds);
    // Runs until stop().
    void run();
    // Ends the innermost run under way, or the next one to start. Any thread.
    void stop();

private:
    friend class LoopQueue;
    friend class LoopThread;
    struct MainTag {};
    RunLoop(MainTag);
    void init(std::shared_ptr<Clock> clock, bool drives, pid_t thread);
    // A timer or delayed call (one-shot when `interval` is 0), due `delay` seconds from now.
    std::shared_ptr<Timer::Record> addRecord(double delay, double interval, const void* target,
                                             std::function<void()> fn, double tolerance = 0);
    void queueBlock(std::function<void()> fn);
    RunResult runUntil(double deadline, bool stopAfterSource);
    bool fireTimers();
    bool handleInput(bool stopAfterSource);
    // The steps of handleInput; the first two set `handled` and answer true when the turn ends
    // with the one source wanted, the last answers whether it handled any descriptor.
    bool runPosts(bool stopAfterSource, bool& handled);
    bool runBlocks(bool stopAfterSource, bool& handled);
    bool dispatchFds(bool stopAfterSource);
    void endTurn();
    bool wait(double deadline);
    void waitFor(double deadline);
    // Polls `fds`, the wake-up descriptor and the poll context's descriptors for up to `seconds`
    // (negative: no limit) or the context's own limit, then lets the context dispatch. True when
    // something was ready, the context ran, or the context's limit ended the wait.
    bool pollAll(std::vector<pollfd>& fds, double seconds);
    // The context's turn without waiting; true when it ran something.
    bool turnContext();
    // Ends every run under way and any later one: the loop's thread is leaving.
    void quit();
    // Makes `loop` (made on this thread, kept by its owner past the thread's end) current().
    static void setCurrent(RunLoop* loop);

    std::shared_ptr<RunLoopState> m_state;
    std::unique_ptr<Queue> m_queue;
};

// Shorthands for the main loop's queue (serial, never re-entered) and a block queued on it
// after `delay` seconds of the main loop's clock.
void mainAsync(std::function<void()> fn);
void mainAfter(double delay, std::function<void()> fn);

}  // namespace plat::foundation
