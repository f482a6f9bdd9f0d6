// SIGINT and SIGTERM as input of a run loop, so a signal quits through the loop like any command:
// blocked in main before any thread exists and read through a signalfd on the loop. Pending, or
// once read, one ends the waits on other processes' locks (platform/sys/QuitRequest.h).
#pragma once

#include <signal.h>

#include <functional>

#include "platform/foundation/RunLoop.h"

namespace plat::host {

class QuitSignals {
public:
    // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it starts later:
    // call it first thing in main, before any thread exists, or a signal may go to a thread that
    // takes it the default way.
    static void block();
    // SIGINT and SIGTERM: what block() blocks, for a wait of start-up that watches them itself.
    static sigset_t set();

    // Reads the blocked signals on `loop` (its thread) and calls `onSignal` with each.
    QuitSignals(foundation::RunLoop& loop, std::function<void(int signal)> onSignal);
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    bool isWatching() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    std::function<void(int)> m_onSignal;
    foundation::FdSource m_source;
};

}  // namespace plat::host
