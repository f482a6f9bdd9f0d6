#include "platform/foundation/RunLoop.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/foundation/Queue.h"

namespace plat::foundation {

namespace {

constexpr double kForever = std::numeric_limits<double>::infinity();
constexpr double kMinInterval = 1e-4;
// How long the driver of a virtual clock gives work in flight before each jump (real seconds);
// transfers silent for a whole grace get only the jump's own length from then on.
constexpr double kTaskGrace = 10.0;
constexpr double kTransferGrace = 1.0;

pid_t currentThread() {
    thread_local pid_t tid = gettid();
    return tid;
}

// A performAndWait caller waiting for its call.
struct Waiter {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool ran = false;
    std::exception_ptr error;

    void finish(bool hasRun, std::exception_ptr e = nullptr) {
        std::lock_guard lock(mutex);
        finished = true;
        ran = hasRun;
        error = std::move(e);
        done.notify_all();
    }
};

struct Post {
    std::function<void()> fn;
    std::shared_ptr<Waiter> waiter;
};

}  // namespace

struct Timer::Record {
    std::function<void()> fn;
    const void* target = nullptr;
    double interval = 0;                   // 0: one-shot
    double tolerance = 0;                  // how long after its due time the loop may leave it
    double phase = 0;                      // a repeating timer fires at phase + n * interval
    std::pair<double, std::uint64_t> key;  // (due, order) in the loop's map, under its mutex
    std::atomic<bool> valid{true};
};

struct FdSource::Record {
    int fd;
    std::atomic<unsigned> events;
    std::function<void(unsigned)> fn;
    std::atomic<bool> valid{true};
};

struct TurnObserver::Record {
    std::function<void()> fn;
    bool valid = true;
};

struct RunLoopState {
    std::shared_ptr<Clock> clock;
    bool drives = false;
    pid_t thread = 0;
    int wakeFd = -1;
    std::uint64_t wakerId = 0;

    std::mutex mutex;  // guards the containers below
    std::map<std::pair<double, std::uint64_t>, std::shared_ptr<Timer::Record>> timers;
    std::uint64_t nextOrder = 1;
    std::deque<Post> posts;
    std::deque<std::function<void()>> blocks;
    std::vector<std::shared_ptr<FdSource::Record>> sources;

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> quitting{false};
    int blockDepth = 0;  // the loop's thread only: a queue block is running
    // The loop's thread only. Removed observers are marked and dropped between calls.
    std::vector<std::shared_ptr<TurnObserver::Record>> observers;
    bool observing = false;
    // The loop's thread only.
    PollContext* context = nullptr;
    bool contextBusy = false;
    bool contextRan = false;  // the context ran something during the last wait
    // The driver's thread only: the clock's work changes when transfers were last waited for,
    // and whether they have stayed silent for a whole grace since.
    std::uint64_t transferChanges = 0;
    bool transferSilent = false;

    ~RunLoopState() {
        if (wakeFd >= 0) close(wakeFd);
    }

    // A stop was asked for, or the loop's thread is leaving.
    bool halted() const {
        return quitting.load(std::memory_order_acquire) || stopRequested.load(std::memory_order_acquire);
    }

    void wake() const {
        std::uint64_t one = 1;
        // A full counter (EAGAIN) is already a pending wake-up.
        [[maybe_unused]] ssize_t n = write(wakeFd, &one, sizeof one);
    }

    void wakeFrom(pid_t caller) const {
        if (caller != thread) wake();
    }

    void drainWake() const {
        std::uint64_t count;
        [[maybe_unused]] ssize_t n = read(wakeFd, &count, sizeof count);
    }

    // Under `mutex`.
    void schedule(const std::shared_ptr<Timer::Record>& record, double due) {
        record->key = {due, nextOrder++};
        timers.emplace(record->key, record);
    }

    void unschedule(Timer::Record& record) {
        record.valid.store(false, std::memory_order_release);
        timers.erase(record.key);
    }

    // The sources that ask for events, as poll takes them (and, when wanted, their records); under
    // `mutex`.
    void pollList(std::vector<pollfd>& fds, std::vector<std::shared_ptr<FdSource::Record>>* records) const {
        for (const auto& source : sources) {
            const unsigned events = source->events.load(std::memory_order_acquire);
            if (!events) continue;
            const short want = (events & kFdRead ? POLLIN : 0) | (events & kFdWrite ? POLLOUT : 0);
            fds.push_back({source->fd, want, 0});
            if (records) records->push_back(source);
        }
    }
};

// ---- handles ----

Timer::Timer(std::weak_ptr<RunLoopState> loop, std::shared_ptr<Record> record)
    : m_loop(std::move(loop)), m_record(std::move(record)) {}

Timer& Timer::operator=(Timer&& other) noexcept {
    if (this != &other) {
        invalidate();
        m_loop = std::move(other.m_loop);
        m_record = std::move(other.m_record);
    }
    return *this;
}

void Timer::invalidate() {
    if (!m_record) return;
    if (auto loop = m_loop.lock()) {
        std::lock_guard lock(loop->mutex);
        loop->unschedule(*m_record);
    }
    m_record->valid.store(false, std::memory_order_release);
    m_record.reset();
    m_loop.reset();
}

bool Timer::isValid() const {
    return m_record && m_record->valid.load(std::memory_order_acquire) && !m_loop.expired();
}

FdSource::FdSource(std::weak_ptr<RunLoopState> loop, std::shared_ptr<Record> record)
    : m_loop(std::move(loop)), m_record(std::move(record)) {}

FdSource& FdSource::operator=(FdSource&& other) noexcept {
    if (this != &other) {
        remove();
        m_loop = std::move(other.m_loop);
        m_record = std::move(other.m_record);
    }
    return *this;
}

void FdSource::setEvents(unsigned events) {
    if (!m_record) return;
    m_record->events.store(events, std::memory_order_release);
    if (auto loop = m_loop.lock()) loop->wakeFrom(currentThread());
}

void FdSource::remove() {
    if (!m_record) return;
    m_record->valid.store(false, std::memory_order_release);
    if (auto loop = m_loop.lock()) {
        {
            std::lock_guard lock(loop->mutex);
            std::erase(loop->sources, m_record);
        }
        loop->wakeFrom(currentThread());
    }
    m_record.reset();
    m_loop.reset();
}

TurnObserver& TurnObserver::operator=(TurnObserver&& other) noexcept {
    if (this != &other) {
        remove();
        m_record = std::move(other.m_record);
    }
    return *this;
}

void TurnObserver::remove() {
    if (m_record) m_record->valid = false;
    m_record.reset();
}

// ---- the loop's serial queue ----

class LoopQueue : public Queue {
public:
    explicit LoopQueue(RunLoop& loop) : m_loop(loop) {}
    void async(std::function<void()> fn) override { m_loop.queueBlock(std::move(fn)); }

private:
    RunLoop& m_loop;
};

// ---- the loop ----

RunLoop& RunLoop::main() {
    // Never destroyed: other threads may still post to it while the process exits.
    static RunLoop* loop = new RunLoop(MainTag{});
    return *loop;
}

namespace {
thread_local RunLoop* t_current = nullptr;  // set by a LoopThread for its own loop
}

RunLoop& RunLoop::current() {
    if (t_current) return *t_current;
    if (currentThread() == getpid()) return main();
    thread_local std::unique_ptr<RunLoop> loop;
    if (!loop) loop = std::make_unique<RunLoop>();
    return *loop;
}

void RunLoop::setCurrent(RunLoop* loop) {
    t_current = loop;
}

RunLoop::RunLoop(std::shared_ptr<Clock> clock) {
    bool drives = clock != nullptr;
    init(clock ? std::move(clock) : Clock::processShared(), drives, currentThread());
}

RunLoop::RunLoop(MainTag) {
    init(Clock::processShared(), true, getpid());
}

void RunLoop::init(std::shared_ptr<Clock> clock, bool drives, pid_t thread) {
    m_state = std::make_shared<RunLoopState>();
    m_state->clock = std::move(clock);
    m_state->drives = drives;
    m_state->thread = thread;
    m_state->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    assert(m_state->wakeFd >= 0);
    // Removed first thing in the destructor, so the state outlives every call.
    m_state->wakerId = m_state->clock->addWaker(drives, [state = m_state.get()] { state->wake(); });
    m_queue = std::make_unique<LoopQueue>(*this);
}

RunLoop::~RunLoop() {
    m_state->clock->removeWaker(m_state->wakerId);
    std::deque<Post> posts;
    {
        std::lock_guard lock(m_state->mutex);
        posts.swap(m_state->posts);
        for (auto& [key, record] : m_state->timers) record->valid.store(false);
        m_state->timers.clear();
        for (auto& source : m_state->sources) source->valid.store(false);
        m_state->sources.clear();
        m_state->blocks.clear();
    }
    for (Post& post : posts)
        if (post.waiter) post.waiter->finish(false);
}

Clock& RunLoop::clock() const {
    return *m_state->clock;
}

bool RunLoop::isCurrentThread() const {
    return currentThread() == m_state->thread;
}

std::shared_ptr<Timer::Record> RunLoop::addRecord(double delay, double interval, const void* target,
                                                  std::function<void()> fn, double tolerance) {
    auto record = std::make_shared<Timer::Record>();
    record->fn = std::move(fn);
    record->target = target;
    record->interval = interval;
    record->tolerance = tolerance;
    {
        std::lock_guard lock(m_state->mutex);
        record->phase = now();
        m_state->schedule(record, record->phase + delay);
    }
    m_state->wakeFrom(currentThread());
    return record;
}

Timer RunLoop::addTimer(double delay, std::function<void()> fn) {
    return Timer(m_state, addRecord(std::max(delay, 0.0), 0, nullptr, std::move(fn)));
}

Timer RunLoop::addTimer(double delay, double tolerance, std::function<void()> fn) {
    return Timer(m_state, addRecord(std::max(delay, 0.0), 0, nullptr, std::move(fn), std::max(tolerance, 0.0)));
}

Timer RunLoop::addRepeatingTimer(double interval, std::function<void()> fn) {
    interval = std::max(interval, kMinInterval);
    return Timer(m_state, addRecord(interval, interval, nullptr, std::move(fn)));
}

void RunLoop::performAfter(double delay, const void* target, std::function<void()> fn) {
    addRecord(std::max(delay, 0.0), 0, target, std::move(fn));
}

void RunLoop::cancelPerforms(const void* target) {
    if (!target) return;
    std::lock_guard lock(m_state->mutex);
    for (auto it = m_state->timers.begin(); it != m_state->timers.end();) {
        if (it->second->target == target) {
            it->second->valid.store(false, std::memory_order_release);
            it = m_state->timers.erase(it);
        } else {
            ++it;
        }
    }
}

void RunLoop::perform(std::function<void()> fn) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->posts.push_back({std::move(fn), nullptr});
    }
    m_state->wakeFrom(currentThread());
}

bool RunLoop::performAndWait(const std::function<void()>& fn) {
    if (isCurrentThread()) {
        fn();
        return true;
    }
    auto waiter = std::make_shared<Waiter>();
    {
        std::lock_guard lock(m_state->mutex);
        m_state->posts.push_back({fn, waiter});
    }
    m_state->wake();
    std::exception_ptr error;
    {
        std::unique_lock lock(waiter->mutex);
        waiter->done.wait(lock, [&] { return waiter->finished; });
        error = std::move(waiter->error);  // the loop's thread may drop the waiter at any time now
    }
    if (error) std::rethrow_exception(error);
    return waiter->ran;
}

TurnObserver RunLoop::addTurnObserver(std::function<void()> fn) {
    assert(isCurrentThread());
    auto record = std::make_shared<TurnObserver::Record>();
    record->fn = std::move(fn);
    m_state->observers.push_back(record);
    return TurnObserver(record);
}

void RunLoop::endTurn() {
    RunLoopState& s = *m_state;
    if (s.observers.empty() || s.observing || s.quitting.load(std::memory_order_acquire)) return;
    std::erase_if(s.observers, [](const auto& record) { return !record->valid; });
    s.observing = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{s.observing};
    // By index: an observer may add another (called from the next turn on) or remove one.
    for (std::size_t i = 0, n = s.observers.size(); i < n; ++i) {
        std::shared_ptr<TurnObserver::Record> record = s.observers[i];
        if (record->valid) record->fn();
    }
}

Queue& RunLoop::queue() {
    return *m_queue;
}

void RunLoop::queueBlock(std::function<void()> fn) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->blocks.push_back(std::move(fn));
    }
    m_state->wakeFrom(currentThread());
}

FdSource RunLoop::addFdSource(int fd, unsigned events, std::function<void(unsigned)> fn) {
    auto record = std::make_shared<FdSource::Record>();
    record->fd = fd;
    record->events.store(events);
    record->fn = std::move(fn);
    {
        std::lock_guard lock(m_state->mutex);
        m_state->sources.push_back(record);
    }
    m_state->wakeFrom(currentThread());
    return FdSource(m_state, record);
}

void RunLoop::setPollContext(PollContext* context) {
    assert(isCurrentThread());
    m_state->context = context;
}

RunLoop::RunResult RunLoop::runOnce(double limit) {
    return runUntil(now() + std::max(limit, 0.0), true);
}

RunLoop::RunResult RunLoop::runFor(double seconds) {
    return runUntil(now() + std::max(seconds, 0.0), false);
}

void RunLoop::run() {
    runUntil(kForever, false);
}

void RunLoop::stop() {
    m_state->stopRequested.store(true, std::memory_order_release);
    m_state->wakeFrom(currentThread());
}

void RunLoop::quit() {
    m_state->quitting.store(true, std::memory_order_release);
    m_state->wake();
}

RunLoop::RunResult RunLoop::runUntil(double deadline, bool stopAfterSource) {
    assert(isCurrentThread());
    RunLoopState& s = *m_state;
    auto stopped = [&s] {
        return s.quitting.load(std::memory_order_acquire) ||
               s.stopRequested.exchange(false, std::memory_order_acq_rel);
    };
    for (;;) {
        if (stopped()) return RunResult::Stopped;
        fireTimers();
        const bool handled = !s.halted() && handleInput(stopAfterSource);
        endTurn();
        if (stopped()) return RunResult::Stopped;
        if (handled && stopAfterSource) return RunResult::SourceHandled;
        if (now() >= deadline) return RunResult::TimedOut;
        if (!handled && wait(deadline) && stopAfterSource) return RunResult::SourceHandled;
    }
}

// Fires the timers due at the start of the pass, one at a time (a nested run may fire the next
// ones). Timers made or rescheduled during the pass wait for the next one.
bool RunLoop::fireTimers() {
    RunLoopState& s = *m_state;
    double now = this->now();
    std::uint64_t passEnd;
    {
        std::lock_guard lock(s.mutex);
        passEnd = s.nextOrder;
    }
    bool fired = false;
    for (;;) {
        std::shared_ptr<Timer::Record> record;
        {
            std::lock_guard lock(s.mutex);
            auto it = std::find_if(s.timers.begin(), s.timers.end(), [&](const auto& entry) {
                return entry.first.first > now || entry.first.second < passEnd;
            });
            if (it == s.timers.end() || it->first.first > now) break;
            record = it->second;
            s.timers.erase(it);
            if (record->interval > 0) {
                double beats = std::floor((now - record->phase) / record->interval) + 1;
                double due = record->phase + beats * record->interval;
                if (due <= now) due += record->interval;
                s.schedule(record, due);
            } else {
                record->valid.store(false, std::memory_order_release);
            }
        }
        if (record->interval > 0 && !record->valid.load(std::memory_order_acquire)) continue;
        fired = true;
        record->fn();
        if (s.halted()) break;
    }
    return fired;
}

// Posted work first, then queue blocks, then ready fds. Each kind runs what was there when it
// was looked at (later arrivals wait for the next turn); with `stopAfterSource`, one item only.
bool RunLoop::handleInput(bool stopAfterSource) {
    RunLoopState& s = *m_state;
    // Drained before the lists are read, so work posted after this always finds the fd set.
    s.drainWake();
    bool handled = false;
    if (runPosts(stopAfterSource, handled)) return true;
    if (s.blockDepth == 0 && runBlocks(stopAfterSource, handled)) return true;
    if (s.halted()) return handled;
    if (s.context && turnContext()) {
        handled = true;
        if (stopAfterSource || s.halted()) return true;
    }
    return dispatchFds(stopAfterSource) || handled;
}

bool RunLoop::runPosts(bool stopAfterSource, bool& handled) {
    RunLoopState& s = *m_state;
    std::size_t count;
    {
        std::lock_guard lock(s.mutex);
        count = s.posts.size();
    }
    for (; count > 0 && !s.halted(); --count) {
        Post post;
        {
            std::lock_guard lock(s.mutex);
            if (s.posts.empty()) break;
            post = std::move(s.posts.front());
            s.posts.pop_front();
        }
        handled = true;
        if (post.waiter) {
            // The exception leaves this thread's hands before the waiter may rethrow it.
            std::exception_ptr error;
            try {
                post.fn();
            } catch (...) {
                error = std::current_exception();
            }
            post.waiter->finish(true, std::move(error));
        } else {
            post.fn();
        }
        if (stopAfterSource) return true;
    }
    return false;
}

bool RunLoop::runBlocks(bool stopAfterSource, bool& handled) {
    RunLoopState& s = *m_state;
    std::size_t count;
    {
        std::lock_guard lock(s.mutex);
        count = s.blocks.size();
    }
    for (; count > 0 && !s.halted(); --count) {
        std::function<void()> block;
        {
            std::lock_guard lock(s.mutex);
            if (s.blocks.empty()) break;
            block = std::move(s.blocks.front());
            s.blocks.pop_front();
        }
        handled = true;
        struct Depth {
            int& depth;
            explicit Depth(int& d) : depth(d) { ++depth; }
            ~Depth() { --depth; }
        } depth(s.blockDepth);
        block();
        if (stopAfterSource) return true;
    }
    return false;
}

bool RunLoop::dispatchFds(bool stopAfterSource) {
    RunLoopState& s = *m_state;
    std::vector<pollfd> fds;
    std::vector<std::shared_ptr<FdSource::Record>> records;
    {
        std::lock_guard lock(s.mutex);
        s.pollList(fds, &records);
    }
    if (fds.empty() || poll(fds.data(), fds.size(), 0) <= 0) return false;
    bool handled = false;
    for (std::size_t i = 0; i < fds.size() && !s.halted(); ++i) {
        short r = fds[i].revents;
        if (!r || !records[i]->valid.load(std::memory_order_acquire)) continue;
        unsigned events = (r & (POLLIN | POLLHUP) ? kFdRead : 0) | (r & POLLOUT ? kFdWrite : 0) |
                          (r & (POLLERR | POLLNVAL) ? kFdError : 0);
        // A closed descriptor stays ready for ever: report it once and stop asking.
        if (r & POLLNVAL) records[i]->events.store(0);
        handled = true;
        records[i]->fn(events);
        if (stopAfterSource) return true;
    }
    return handled;
}

namespace {

// Waits for any of `fds` or `wakeFd` (`seconds` < 0: no limit); true when something is ready.
bool pollFor(std::vector<pollfd>& fds, int wakeFd, double seconds) {
    fds.push_back({wakeFd, POLLIN, 0});
    timespec timeout{};
    timespec* limit = nullptr;
    if (seconds >= 0) {
        double whole = std::floor(seconds);
        timeout.tv_sec = static_cast<time_t>(std::min(whole, 1e9));
        timeout.tv_nsec = static_cast<long>((seconds - whole) * 1e9);
        limit = &timeout;
    }
    int n = ppoll(fds.data(), fds.size(), limit, nullptr);
    return n > 0;
}

}  // namespace

bool RunLoop::turnContext() {
    std::vector<pollfd> fds;
    RunLoopState& s = *m_state;
    if (!s.context || s.contextBusy) return false;
    s.contextBusy = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{s.contextBusy};
    s.context->prepare(fds);
    if (!fds.empty()) poll(fds.data(), fds.size(), 0);
    return s.context->dispatch(fds);
}

bool RunLoop::pollAll(std::vector<pollfd>& fds, double seconds) {
    RunLoopState& s = *m_state;
    if (!s.context || s.contextBusy) return pollFor(fds, s.wakeFd, seconds);
    s.contextBusy = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{s.contextBusy};
    const double limit = s.context->prepare(fds);
    const bool contextFirst = limit >= 0 && (seconds < 0 || limit < seconds);
    // pollFor appends the wake-up descriptor after the context's: the context gets back its list.
    std::vector<pollfd> all = fds;
    const bool ready = pollFor(all, s.wakeFd, contextFirst ? limit : seconds);
    all.pop_back();
    s.contextRan = s.context->dispatch(all);
    return ready || s.contextRan || contextFirst;
}

// Nothing was ready this turn: wait for the next timer, the deadline, or input. True when the
// poll context ran something meanwhile (input handled).
bool RunLoop::wait(double deadline) {
    RunLoopState& s = *m_state;
    s.contextRan = false;
    waitFor(deadline);
    return s.contextRan;
}

void RunLoop::waitFor(double deadline) {
    RunLoopState& s = *m_state;
    std::vector<pollfd> fds;
    double target = deadline;
    {
        std::lock_guard lock(s.mutex);
        if (!s.posts.empty() || (!s.blocks.empty() && s.blockDepth == 0)) return;
        // By due time: a later timer can only come first through a smaller tolerance.
        for (const auto& [key, record] : s.timers) {
            if (key.first >= target) break;
            target = std::min(target, key.first + record->tolerance);
        }
        s.pollList(fds, nullptr);
    }
    double now = this->now();
    if (target <= now) return;
    Clock& clock = *s.clock;
    if (!clock.isVirtual()) {
        pollAll(fds, target == kForever ? -1.0 : target - now);
        return;
    }
    if (!s.drives) {
        pollAll(fds, -1.0);  // the driver's jumps wake us
        return;
    }
    if (clock.hasTaskInFlight()) {
        std::vector<pollfd> copy = fds;
        if (pollAll(copy, kTaskGrace)) return;
    } else if (clock.hasWorkInFlight()) {
        // A whole grace at every jump would hold each frame of a game for a second while a peer
        // stays silent; past the first, the clock keeps to real time until the transfers change.
        const std::uint64_t changes = clock.m_workChanges.load(std::memory_order_acquire);
        if (changes != s.transferChanges) {
            s.transferChanges = changes;
            s.transferSilent = false;
        }
        std::vector<pollfd> copy = fds;
        if (pollAll(copy, s.transferSilent ? std::min(kTransferGrace, target - now) : kTransferGrace)) return;
        s.transferSilent = true;
    }
    {
        // Work that ended since the look above posted its answer before it ended: the answer runs
        // at the time it was awaited, not after the jump.
        std::lock_guard lock(s.mutex);
        if (!s.posts.empty() || (!s.blocks.empty() && s.blockDepth == 0)) return;
    }
    if (target == kForever) {
        pollAll(fds, -1.0);
        return;
    }
    clock.advanceTo(target);
}

// ---- main queue shorthands ----

void mainAsync(std::function<void()> fn) {
    RunLoop::main().queue().async(std::move(fn));
}

void mainAfter(double delay, std::function<void()> fn) {
    RunLoop::main().performAfter(delay, nullptr,
                                 [fn = std::move(fn)]() mutable { mainAsync(std::move(fn)); });
}

}  // namespace plat::foundation
