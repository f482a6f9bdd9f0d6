#include "kiosk/KSTimeInGame.h"

#include "kiosk/KSAPIRequest.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"

namespace {

constexpr const char* kCountKey = "KSSessionCount";
constexpr const char* kDurationKey = "KSSessionDuration";

plat::foundation::UserDefaults* defaults() {
    return plat::foundation::UserDefaults::standard();
}

void store(std::int64_t count, double duration) {
    if (auto* d = defaults()) {
        if (count >= 0) d->setInteger(count, kCountKey);
        if (duration >= 0) d->setDouble(duration, kDurationKey);
        d->synchronize();
    }
}

}  // namespace

KSTimeInGame& KSTimeInGame::getInstance() {
    static KSTimeInGame* instance = new KSTimeInGame;
    return *instance;
}

void KSTimeInGame::gameSessionStarted() {
    double sum = getSumSessionDuration();
    bool running = isRunning();
    m_sessionStart = kiosk::wallNow();
    if (!running) {
        auto stop = [](const plat::foundation::Notification&) { getInstance().gameSessionStopped(); };
        auto& center = plat::foundation::NotificationCenter::defaultCenter();
        m_willTerminate = center.observe(plat::ui::kApplicationWillTerminateNotification, nullptr, stop);
        m_didEnterBackground = center.observe(plat::ui::kApplicationDidEnterBackgroundNotification, nullptr, stop);
    }
    // The seconds of a session still running are kept, not thrown away by the new start.
    store(getCountSessions() + 1, running ? sum : -1);
}

void KSTimeInGame::gameSessionStopped() {
    if (!isRunning()) return;
    // The platform's background task around the save has nothing to hold here: the write is
    // synchronous.
    store(-1, getSumSessionDuration());
    m_willTerminate.remove();
    m_didEnterBackground.remove();
    m_sessionStart = 0;
}

void KSTimeInGame::gameSessionRestart() {
    m_sessionStart = 0;
    store(0, 0);
}

void KSTimeInGame::resetCounters() {
    store(1, 0);
}

std::int64_t KSTimeInGame::getCountSessions() const {
    auto* d = defaults();
    return d ? d->integerForKey(kCountKey) : 0;
}

double KSTimeInGame::getSumSessionDuration() const {
    auto* d = defaults();
    return (d ? d->doubleForKey(kDurationKey) : 0) + getCurrentSessionDuration();
}

double KSTimeInGame::getCurrentSessionDuration() const {
    return isRunning() ? kiosk::wallNow() - m_sessionStart : 0;
}
