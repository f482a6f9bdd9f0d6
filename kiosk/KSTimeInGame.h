// Game sessions and their seconds, counted in user defaults across launches until a session-open
// succeeds. A session runs from each session-open send until the application goes to the
// background or terminates. Main thread.
//
// The user defaults' "KSSessionCount" and "KSSessionDuration", on the client's wall clock
// (kiosk::setWallClock); background and terminate are observed once.
#pragma once

#include <cstdint>

#include "platform/foundation/NotificationCenter.h"

class KSTimeInGame {
public:
    static KSTimeInGame& getInstance();

    // A start while a session runs first folds the running seconds into the stored sum.
    void gameSessionStarted();
    // Only while a session runs.
    void gameSessionStopped();
    void gameSessionRestart();
    // One session (the one just opened), no seconds; the running session keeps its start.
    void resetCounters();
    std::int64_t getCountSessions() const;
    double getSumSessionDuration() const;
    double getCurrentSessionDuration() const;
    bool isRunning() const { return m_sessionStart != 0; }

private:
    KSTimeInGame() = default;
    double m_sessionStart = 0;  // wall seconds; 0: none running
    plat::foundation::Observation m_willTerminate;
    plat::foundation::Observation m_didEnterBackground;
};
