#include "port/DKDate.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

double systemMonotonic() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double systemWall() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

const DKClockSource kSystemClock = {systemMonotonic, systemWall};
const DKClockSource* g_clock = &kSystemClock;

// The game clock's reference time; -1 until the first getTimeAsFloat.
double NSDateTimeAsFloatStartTime = -1.0;
bool g_started = false;

std::string formatTime(double date, const char* format) {
    std::time_t t = static_cast<std::time_t>(std::floor(date));
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[64];
    size_t n = std::strftime(text, sizeof text, format, &tm);
    return std::string(text, n);
}

}  // namespace

float DKDate::getTimeAsFloat() {
    double now = g_clock->monotonic();
    if (!g_started) {
        g_started = true;
        NSDateTimeAsFloatStartTime = now;
        return 0.0f;
    }
    return static_cast<float>(now - NSDateTimeAsFloatStartTime);
}

void DKDate::getClockTimeComponent(unsigned int* components) {
    double now = g_clock->wall();
    std::time_t t = static_cast<std::time_t>(std::floor(now));
    std::tm tm{};
    localtime_r(&t, &tm);
    components[0] = static_cast<unsigned>(tm.tm_year + 1900);
    components[1] = static_cast<unsigned>(tm.tm_mon + 1);
    components[2] = static_cast<unsigned>(tm.tm_mday);
    components[3] = static_cast<unsigned>(tm.tm_hour);
    components[4] = static_cast<unsigned>(tm.tm_min);
    // A leap second shows as 60 in some zones; the calendar fields never go past 59.
    components[5] = static_cast<unsigned>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    // Rounded to the microsecond first so that .250 is not read back as 249.999...
    double ms = std::fmod(std::round(now * 1e6) / 1e3, 1000.0);
    if (ms < 0) ms += 1000.0;
    components[6] = static_cast<unsigned>(ms);
}

std::string DKDate::softFormatDate(double date) {
    double minutes = (g_clock->wall() - date) / 60.0;
    double hours = minutes / 60.0;
    double days = hours / 24.0;
    char text[64];
    if (days >= 1 && days < 2) {
        std::snprintf(text, sizeof text, "Yesterday at %s", formatTime(date, "%H:%M").c_str());
        return text;
    }
    if (days >= 2 && days < 8) {
        std::snprintf(text, sizeof text, "%d days ago", static_cast<int>(days));
        return text;
    }
    if (days >= 8) return formatTime(date, "%b %e, %Y");
    if (hours >= 12) return formatTime(date, "%H:%M");
    if (hours >= 1) {
        int h = static_cast<int>(hours);
        if (h == 1) return "One hour ago";
        std::snprintf(text, sizeof text, "%d hours ago", h);
        return text;
    }
    if (minutes >= 1) {
        int m = static_cast<int>(minutes);
        if (m == 1) return "One minute ago";
        std::snprintf(text, sizeof text, "%d minutes ago", m);
        return text;
    }
    return "Less than a minute ago";
}

void DKDate::setClockSource(const DKClockSource* source) {
    g_clock = source ? source : &kSystemClock;
    resetGameClock();
}

void DKDate::resetGameClock() {
    g_started = false;
    NSDateTimeAsFloatStartTime = -1.0;
}
