// What the metrics client takes from its host: the diagnostic hook, the wall time and the random
// source. Set once at start-up, before the client's first use, on the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace dk::trackwell {

// Every diagnostic text of the client goes here; nothing is written until a hook is set.
using LogHook = std::function<void(std::string_view message)>;
void setLogHook(LogHook hook);
void logMessage(std::string_view message);

// Seconds since 1970: the wall time at launch (or the one set here) plus the seconds the main run
// loop's clock has counted since launch, so on a virtual clock timestamps move only with it.
double wallTime();
void setStartWallTime(double secondsSince1970);

// The client's random source; seeded from the system unless seeded here.
std::uint32_t random32();
void seedRandom(std::uint64_t seed);

// A fresh upper-case UUID text: the system's, or once seeded, one drawn from the random source, so
// a seeded run writes the same blobs every time.
std::string newUUID();

}  // namespace dk::trackwell
