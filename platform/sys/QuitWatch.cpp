#include "platform/sys/QuitWatch.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/sys/QuitRequest.h"

namespace plat::sys {

namespace {

double monotonicNow() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Straight to the descriptor: the thread that would hold stdio's lock may be the one stuck.
void say(const std::string& line) {
    const std::string text = line + "\n";
    ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

// The outermost script call of the watched thread, and when the run was to end.
struct Watched {
    std::mutex mutex;
    std::atomic<bool> active{false};
    pthread_t thread{};
    int depth = 0;  // the watched thread's alone
    const char* name = nullptr;
    double start = 0;
    void (*interrupt)(void*) = nullptr;
    void* context = nullptr;
    bool interrupted = false;
    double interruptedAt = 0;
    std::optional<double> endingAt;  // the quit, the deadline passed, or noteEnding
    std::optional<double> deadline;
};

Watched& watched() {
    static Watched w;
    return w;
}

std::atomic<void (*)()> g_beforeAbruptExit{nullptr};

void beforeAbruptExit() {
    if (void (*hook)() = g_beforeAbruptExit.load()) hook();
}

}  // namespace

void setBeforeAbruptExit(void (*hook)()) { g_beforeAbruptExit.store(hook); }

sigset_t quitSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void blockQuitSignals() {
    const sigset_t set = quitSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

struct QuitWatch::State {
    std::string program;
    std::function<void(int)> onSignal;
    int signals = -1;
    int stop = -1;
    int received = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;

    void wake() const {
        const uint64_t one = 1;
        ssize_t ignored = write(stop, &one, sizeof one);
        (void)ignored;
    }

    void run();
    void signalled(int signal);
    // Interrupts or ends the call that has outlasted the run; how long to sleep, in ms.
    int check();
};

QuitWatch::QuitWatch(std::string program, std::function<void(int signal)> onSignal)
    : m_state(std::make_shared<State>()) {
    m_state->program = std::move(program);
    m_state->onSignal = std::move(onSignal);
    const sigset_t set = quitSignalSet();
    m_state->signals = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    m_state->stop = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_state->signals < 0 || m_state->stop < 0) return;
    Watched& w = watched();
    {
        std::lock_guard lock(w.mutex);
        w.thread = pthread_self();
        w.endingAt.reset();
        w.deadline.reset();
        w.active = true;
    }
    // The thread takes the signals through its descriptor only, whatever the caller blocked.
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &set, &old);
    m_state->thread = std::thread([state = m_state] { state->run(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

QuitWatch::~QuitWatch() {
    if (m_state->thread.joinable()) {
        m_state->stopping = true;
        m_state->wake();
        m_state->thread.join();
    }
    watched().active = false;
    if (m_state->signals >= 0) close(m_state->signals);
    if (m_state->stop >= 0) close(m_state->stop);
}

bool QuitWatch::isWatching() const {
    return m_state->thread.joinable();
}

void QuitWatch::setDeadline(double monotonicSeconds) {
    Watched& w = watched();
    {
        std::lock_guard lock(w.mutex);
        w.deadline = monotonicSeconds;
    }
    m_state->wake();  // it sleeps until then from now on
}

void QuitWatch::noteEnding() {
    {
        Watched& w = watched();
        std::lock_guard lock(w.mutex);
        if (!w.endingAt) w.endingAt = monotonicNow();
    }
    m_state->wake();
}

void QuitWatch::State::run() {
    pollfd fds[2] = {{signals, POLLIN, 0}, {stop, POLLIN, 0}};
    for (;;) {
        const int wait = check();
        if (poll(fds, 2, wait) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            ssize_t ignored = read(stop, &count, sizeof count);
            (void)ignored;
            if (stopping) return;
        }
        signalfd_siginfo info;
        while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            signalled(static_cast<int>(info.ssi_signo));
    }
}

void QuitWatch::State::signalled(int signal) {
    noteQuitRequested();
    if (++received == 1) {
        {
            Watched& w = watched();
            std::lock_guard lock(w.mutex);
            if (!w.endingAt) w.endingAt = monotonicNow();
        }
        if (onSignal) onSignal(signal);
        return;
    }
    say(program + ": a second SIG" + sigabbrev_np(signal) + ": ending at once");
    beforeAbruptExit();
    // Killed by it, as the caller of a process that takes no signal expects.
    ::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    pthread_kill(pthread_self(), signal);
    _exit(128 + signal);  // not reached
}

int QuitWatch::State::check() {
    Watched& w = watched();
    std::lock_guard lock(w.mutex);
    const double now = monotonicNow();
    if (!w.endingAt && w.deadline && now >= *w.deadline) w.endingAt = *w.deadline;
    if (!w.endingAt)
        return w.deadline ? static_cast<int>(std::min(*w.deadline - now, 3600.0) * 1000) + 1 : -1;
    if (w.depth > 0 && w.name) {
        const double since = std::max(*w.endingAt, w.start);
        if (!w.interrupted && now - since >= kStuckCallSeconds) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", kStuckCallSeconds);
            say(program + ": the game's " + w.name + " did not return within " + seconds +
                " s of the run's end; interrupting it, else ending the process");
            w.interrupted = true;
            w.interruptedAt = now;
            if (w.interrupt) w.interrupt(w.context);
        } else if (w.interrupted && now - w.interruptedAt >= kInterruptedCallSeconds) {
            beforeAbruptExit();
            _exit(kStuckCallStatus);
        }
    }
    // A call may start at any time from now on: looked at ten times a second.
    return 100;
}

ScriptCallMark::ScriptCallMark(const char* name, void (*interrupt)(void* context), void* context) {
    Watched& w = watched();
    if (!w.active.load(std::memory_order_relaxed) || !pthread_equal(pthread_self(), w.thread)) return;
    std::lock_guard lock(w.mutex);
    m_marked = true;
    if (w.depth++ > 0) return;
    w.name = name;
    w.start = monotonicNow();
    w.interrupt = interrupt;
    w.context = context;
    w.interrupted = false;
}

bool ScriptCallMark::end() {
    if (!m_marked) return false;
    m_marked = false;
    Watched& w = watched();
    std::lock_guard lock(w.mutex);
    if (--w.depth > 0) return false;
    w.name = nullptr;
    w.interrupt = nullptr;
    w.context = nullptr;
    return std::exchange(w.interrupted, false);
}

}  // namespace plat::sys
