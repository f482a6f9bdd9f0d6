// SIGINT, SIGTERM and SIGHUP as input of a run loop, so a signal quits through the loop like any
// command: blocked in main before any thread exists, read at once on a thread of their own
// (platform/sys/QuitWatch.h) and posted to the loop. Once read, one ends the waits on other
// processes' locks (platform/sys/QuitRequest.h); a second ends the process at once; a script call
// that outlasts the run's end is interrupted, else the process ends.
#pragma once

#include <signal.h>

#include <functional>
#include <memory>

#include "platform/foundation/RunLoop.h"
#include "platform/sys/QuitWatch.h"

namespace plat::host {

class QuitSignals {
public:
    // Blocks the quit signals in the calling thread, and so in every thread it starts later: call
    // it first thing in main, before any thread exists, or a signal may go to a thread that takes
    // it the default way.
    static void block();
    // What block() blocks, for a wait of start-up that watches them itself.
    static sigset_t set();

    // Posts `onSignal` with the first signal to `loop`; the calling thread's script calls are
    // watched. `program` begins the watch's lines.
    QuitSignals(foundation::RunLoop& loop, std::function<void(int signal)> onSignal,
                const char* program = "drovik-player");
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    bool isWatching() const { return m_watch->isWatching(); }
    // The run's bound, `seconds` of real time from now.
    void setDeadlineIn(double seconds);
    // The run is ending by another road.
    void noteEnding() { m_watch->noteEnding(); }

private:
    std::shared_ptr<std::function<void(int)>> m_onSignal;
    std::unique_ptr<sys::QuitWatch> m_watch;
};

}  // namespace plat::host
