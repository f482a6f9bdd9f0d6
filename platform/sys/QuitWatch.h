// The quit signals read on a thread of their own, and a watch over the game script's calls once
// the run is to end. A callback that never returns (`while true do end` in update) holds the thread
// that turns the run loop: a signal read there, or a run-loop timer ending the run, would never be
// seen, and the process could only be killed.
//
// The watch's thread reads SIGINT, SIGTERM and SIGHUP as they come (blocked everywhere by
// blockQuitSignals) and notes the quit (QuitRequest.h) at once. The first is handed on; a second
// ends the process at once, killed by that signal, after one line. From the first signal, the run's
// deadline or noteEnding on, the outermost script call on the watched thread (ScriptCallMark) that
// has not returned kStuckCallSeconds after the later of that moment and its own start is
// interrupted (one line names it), and kInterruptedCallSeconds later, if it still runs, the process
// ends with kStuckCallStatus. A hook raising an error stops interpreted Lua; LuaJIT's compiled loops
// never look at hooks, so there the exit is what ends them. What the store committed stays (it
// commits each write).
#pragma once

#include <signal.h>

#include <functional>
#include <memory>
#include <string>

namespace plat::sys {

// SIGINT, SIGTERM, and SIGHUP (what a closing terminal or SSH session sends).
sigset_t quitSignalSet();
// Blocks them in the calling thread and so in every thread it starts later: call it first thing in
// main, before any thread exists, or a signal may go to a thread that takes it the default way.
void blockQuitSignals();

// Called on the watch's thread just before it ends the process at once (a second signal, a call
// that outlived its interruption), where no exit handler runs: what must not outlive the process
// (the page engine's own processes) is ended there. One hook; null for none.
void setBeforeAbruptExit(void (*hook)());

inline constexpr double kStuckCallSeconds = 3;
inline constexpr double kInterruptedCallSeconds = 2;
inline constexpr int kStuckCallStatus = 1;

// One at a time, made on the thread whose script calls it watches (the main thread).
class QuitWatch {
public:
    // `program` begins its lines. `onSignal` is called on the watch's thread with the first quit
    // signal, after the quit is noted.
    QuitWatch(std::string program, std::function<void(int signal)> onSignal);
    ~QuitWatch();
    QuitWatch(const QuitWatch&) = delete;
    QuitWatch& operator=(const QuitWatch&) = delete;

    bool isWatching() const;
    // The run ends by then (monotonic seconds, Clock::monotonicSeconds): from then on the calls
    // are watched as after a quit. A virtual clock runs ahead of real time unless its frames are
    // slow, so its bound read as real seconds is a late one.
    void setDeadline(double monotonicSeconds);
    // The run is ending by some other road (app.quit, its frame count): the calls of the way out
    // are watched.
    void noteEnding();

private:
    struct State;  // shared with the thread
    std::shared_ptr<State> m_state;
};

// The span of a call into the game's script on the watched thread. Only the outermost counts (the
// script may call the host, which calls the script again). `interrupt(context)` is called on the
// watch's thread while the call runs; it may only ask the runtime to stop (lua_sethook).
class ScriptCallMark {
public:
    ScriptCallMark(const char* name, void (*interrupt)(void* context), void* context);
    ~ScriptCallMark() { end(); }
    ScriptCallMark(const ScriptCallMark&) = delete;
    ScriptCallMark& operator=(const ScriptCallMark&) = delete;
    // The call has returned: true when it was interrupted, so its caller takes the hook back.
    bool end();

private:
    bool m_marked = false;
};

}  // namespace plat::sys
