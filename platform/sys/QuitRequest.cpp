#include "platform/sys/QuitRequest.h"

#include <signal.h>

#include <atomic>

namespace plat::sys {

namespace {

std::atomic<bool>& noted() {
    static std::atomic<bool> flag{false};
    return flag;
}

}  // namespace

bool quitRequested() {
    if (noted().load()) return true;
    // A blocked signal waits here, for this thread or the whole process, until someone reads it.
    sigset_t pending;
    return sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
            sigismember(&pending, SIGHUP) == 1);
}

void noteQuitRequested() {
    noted().store(true);
}

void forgetQuitRequested() {
    noted().store(false);
}

}  // namespace plat::sys
