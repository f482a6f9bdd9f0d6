#include "platform/host/QuitSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <utility>

#include "platform/sys/QuitRequest.h"

namespace plat::host {

sigset_t QuitSignals::set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

void QuitSignals::block() {
    const sigset_t set = QuitSignals::set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

QuitSignals::QuitSignals(foundation::RunLoop& loop, std::function<void(int signal)> onSignal)
    : m_onSignal(std::move(onSignal)) {
    const sigset_t set = QuitSignals::set();
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) return;
    m_source = loop.addFdSource(m_fd, foundation::kFdRead, [this](unsigned) {
        signalfd_siginfo info;
        while (read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            sys::noteQuitRequested();  // read here, it no longer ends a wait by being pending
            m_onSignal(static_cast<int>(info.ssi_signo));
        }
    });
}

QuitSignals::~QuitSignals() {
    m_source.remove();
    if (m_fd >= 0) close(m_fd);
}

}  // namespace plat::host
