// The current session in memory: its identifier, renewed when a new session begins, and the latest
// battery, connection and location readings the controller pushes into it.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orbad {

// Seconds since 1970 on the run loop's clock: the wall time at launch (or the one a tool sets)
// plus the process clock, so a virtual clock moves every date the client makes.
double wallNow();
void setStartWallTime(double secondsSince1970);

// "%f" whatever the C library's locale: six decimals, "." as the point.
std::string fixedSix(double value);

struct OBLocation {
    double latitude = 0;
    double longitude = 0;
    double horizontalAccuracy = 0;  // negative: no coordinate
};

class OBSession {
public:
    // Made at the first ask, under a lock; `shutdown` lets it go (the next ask makes a new one).
    static std::shared_ptr<OBSession> currentSession();
    static void shutdown();

    // 40 upper-case hexadecimal digits: SHA-1 of "orbad-%lf" over `date`'s milliseconds since 1970.
    static std::string identifierForDate(double secondsSince1970);

    OBSession() { renewIdentifier(); }
    void renewIdentifier();
    void update();

    const std::string& identifier() const { return m_identifier; }
    void setIdentifier(std::string identifier) { m_identifier = std::move(identifier); }
    double date() const { return m_date; }
    void setDate(double date) { m_date = date; }
    const std::optional<OBLocation>& location() const { return m_location; }
    void setLocation(std::optional<OBLocation> location) { m_location = location; }
    long connectionType() const { return m_connectionType; }
    void setConnectionType(long type) { m_connectionType = type; }
    unsigned long batteryState() const { return m_batteryState; }
    void setBatteryState(unsigned long state) { m_batteryState = state; }
    unsigned long batteryLevel() const { return m_batteryLevel; }
    void setBatteryLevel(unsigned long level) { m_batteryLevel = level; }

private:
    std::string m_identifier;
    double m_date = 0;
    std::optional<OBLocation> m_location;
    long m_connectionType = 0;
    unsigned long m_batteryState = 0;
    unsigned long m_batteryLevel = 0;
};

}  // namespace orbad
