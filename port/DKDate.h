// Game time and the wall-clock date. Game time (getTimeAsFloat, DKGetSystemTime) reads the monotonic
// clock, so setting the wall clock never moves it; the calendar fields of getClockTime come from the
// wall clock in local time. Tests replace both clocks (setClockSource); the player points game time
// at the process clock, so game time, frames and timers agree on the virtual clock. The start of
// game time is forgotten when the last engine state closes (the first call then answers 0).
#pragma once

#include <string>

// Where DKDate reads the time. Game time comes from the monotonic clock, so a wall-clock change
// (NTP step, the user setting the date) never moves it; the calendar fields come from the wall clock.
struct DKClockSource {
    double (*monotonic)();  // seconds from any fixed origin, never going back
    double (*wall)();       // seconds since 1970-01-01 UTC
};

class DKDate {
public:
    // Game time in seconds since the first call; the first call returns 0.
    static float getTimeAsFloat();
    // Fills year, month (1-12), day, hour (0-23), minute, second, millisecond (0-999), local time.
    static void getClockTimeComponent(unsigned int* components);
    // A short relative description of a past date (seconds since 1970).
    static std::string softFormatDate(double date);

    // Tests: read time from `source` (nullptr restores the system clocks) and forget the game
    // clock's start.
    static void setClockSource(const DKClockSource* source);
    // Forgets the game clock's start, so the next call returns 0 as in a new process (the engine
    // does this when its last state closes). The clock source stays.
    static void resetGameClock();
};
