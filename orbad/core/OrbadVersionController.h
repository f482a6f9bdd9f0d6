// The one-time migration of files older releases of the client left, by the last level reached
// ("kOrbadLastRanVersion" in the user defaults: 0, 40200 or 40340).
#pragma once

namespace orbad {

class OBEnvironment;

class OrbadVersionController {
public:
    static long long lastRanVersion();
    static void setLastRanVersion(long long version);
    // Below 40200 both steps run, from 40200 to 40339 the second, from 40340 none.
    static void handleVersionChangeInEnvironment(OBEnvironment& environment);
    // The tracking file from Documents/<process>/ and the logs from Documents/ into the support
    // directory.
    static void updateTo420InEnvironment(OBEnvironment& environment);
    // The support directory's logs deleted.
    static void updateTo434InEnvironment(OBEnvironment& environment);
};

// Kept for the interface older hosts call; it does nothing.
class Heartbeat {
public:
    static void postHitNotification() {}
    static void handleCrashReportIfPending() {}
    static bool crashReportPending() { return false; }
    static void handleCrashReport() {}
    static void clearCrashReports() {}
};

}  // namespace orbad
