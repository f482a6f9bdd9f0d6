// The clock run loops, timers and trace lines read: real (CLOCK_MONOTONIC; the process clock counts
// from launch) or virtual. On a virtual clock the loop that drives it polls without waiting and,
// with nothing ready, jumps to its next timer or its run's limit, so a 30-second timer is tested in
// microseconds. Work in flight (beginWork / WorkInFlight: a URL load, a block on the worker pool)
// holds the jump back: the driving loop first gives it up to 10 ms of real time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace plat::foundation {

class Clock;

// Held while work whose result a run loop waits for is under way, so that results arrive at the
// virtual time they were awaited. The loop driving a virtual clock does not jump while a task (work
// on a background queue or thread, which answers by itself) is in flight, up to 10 s of real time
// per jump however loaded the machine; transfers (URL loads, whose peers may never answer) get 1 s
// of real time per jump until a whole second passes with nothing ready, and from then on, until
// one starts or ends, only the jump's own length: the clock keeps to real time while a peer is
// silent, rather than taking a second for every frame, and time-outs still come.
enum class WorkKind { Task, Transfer };

class WorkInFlight {
public:
    WorkInFlight() = default;
    explicit WorkInFlight(std::shared_ptr<Clock> clock, WorkKind kind = WorkKind::Task);
    ~WorkInFlight() { end(); }
    WorkInFlight(WorkInFlight&& other) noexcept : m_clock(std::move(other.m_clock)), m_kind(other.m_kind) {}
    WorkInFlight& operator=(WorkInFlight&& other) noexcept;
    WorkInFlight(const WorkInFlight&) = delete;
    WorkInFlight& operator=(const WorkInFlight&) = delete;
    void end();

private:
    std::shared_ptr<Clock> m_clock;
    WorkKind m_kind = WorkKind::Task;
};

// Seconds since the clock was made. A real clock follows CLOCK_MONOTONIC, so setting the wall
// clock never moves it; a virtual one stands still until the run loop driving it jumps it to its
// next timer. Reading is lock-free and safe from any thread. Made with std::make_shared (work
// marks keep it alive).
class Clock : public std::enable_shared_from_this<Clock> {
public:
    enum class Kind { Real, Virtual };
    explicit Clock(Kind kind = Kind::Real);
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    // The process's clock: the main run loop's, other threads' loops', the trace lines'. Real
    // until told otherwise; 0 at launch (made as the program loads).
    static Clock& process();
    static std::shared_ptr<Clock> processShared();

    double now() const;
    bool isVirtual() const { return m_virtual.load(std::memory_order_acquire); }
    // Switching either way keeps now() continuous. Meant for start-up, before loops run.
    void setVirtual(bool isVirtual);
    // Virtual from here, reading `seconds`: a host that runs on virtual time from its launch starts
    // it at 0, so its times and trace lines do not carry the real instants start-up took. Only
    // before anything has read the clock (loops, traces): the clock is not otherwise set back.
    void startVirtualAt(double seconds);

    // Raw clocks: CLOCK_MONOTONIC seconds, and the wall clock (seconds since 1970, UTC).
    static double monotonicSeconds();
    static double wallSeconds();

    [[nodiscard]] WorkInFlight beginWork(WorkKind kind = WorkKind::Task) {
        return WorkInFlight(shared_from_this(), kind);
    }
    bool hasWorkInFlight() const { return m_work.load(std::memory_order_acquire) > 0; }
    bool hasTaskInFlight() const { return m_tasks.load(std::memory_order_acquire) > 0; }

private:
    friend class RunLoop;
    friend class WorkInFlight;

    // The run loop's side: a virtual clock moves forward only (an earlier time is ignored), and
    // wakes the loops that wait on it. Loops register to be woken: `driver` loops when work in
    // flight ends, the others when the time moves.
    void advanceTo(double seconds);
    std::uint64_t addWaker(bool driver, std::function<void()> wake);
    void removeWaker(std::uint64_t id);
    void workEnded();

    struct Waker {
        std::uint64_t id;
        bool driver;
        std::function<void()> wake;
    };

    std::atomic<bool> m_virtual;
    std::atomic<double> m_origin;  // monotonic seconds at now() == 0, real mode
    std::atomic<double> m_virtualNow{0.0};
    std::atomic<int> m_work{0};   // tasks and transfers
    std::atomic<int> m_tasks{0};
    std::atomic<std::uint64_t> m_workChanges{0};  // work begun or ended, ever
    std::mutex m_mutex;  // the mode switch and the wakers
    std::vector<Waker> m_wakers;
    std::uint64_t m_nextWaker = 1;
};

}  // namespace plat::foundation
