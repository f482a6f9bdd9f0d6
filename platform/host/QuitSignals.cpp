#include "platform/host/QuitSignals.h"

#include <utility>

#include "platform/foundation/Clock.h"

namespace plat::host {

sigset_t QuitSignals::set() {
    return sys::quitSignalSet();
}

void QuitSignals::block() {
    sys::blockQuitSignals();
}

QuitSignals::QuitSignals(foundation::RunLoop& loop, std::function<void(int signal)> onSignal,
                         const char* program)
    : m_onSignal(std::make_shared<std::function<void(int)>>(std::move(onSignal))) {
    // Posted, so the signal is handled on the loop's thread between its other inputs.
    m_watch = std::make_unique<sys::QuitWatch>(program, [&loop, onSignal = m_onSignal](int signal) {
        loop.perform([onSignal, signal] { (*onSignal)(signal); });
    });
}

QuitSignals::~QuitSignals() {
    m_watch.reset();
    *m_onSignal = [](int) {};  // what was posted and not yet run finds nothing to call
}

void QuitSignals::setDeadlineIn(double seconds) {
    m_watch->setDeadline(foundation::Clock::monotonicSeconds() + seconds);
}

}  // namespace plat::host
