#include "analytics/trackwell/TrackwellEnvironment.h"

#include <mutex>
#include <random>
#include <utility>

#include "platform/foundation/Clock.h"
#include "platform/sys/Uuid.h"

namespace dk::trackwell {

namespace {

// Taken as the program loads, while the process clock still reads (about) 0 and is real: a host
// that turns it virtual later must not shift the launch.
const double g_launchWall = plat::foundation::Clock::wallSeconds() - plat::foundation::Clock::process().now();

struct Environment {
    std::mutex mutex;
    LogHook hook;
    double startWall = g_launchWall;
    std::mt19937_64 random{std::random_device{}()};
    bool seeded = false;
};

Environment& environment() {
    static Environment* env = new Environment;  // lives for the process, like the client
    return *env;
}

}  // namespace

void setLogHook(LogHook hook) {
    std::lock_guard lock(environment().mutex);
    environment().hook = std::move(hook);
}

void logMessage(std::string_view message) {
    LogHook hook;
    {
        std::lock_guard lock(environment().mutex);
        hook = environment().hook;
    }
    if (hook) hook(message);
}

double wallTime() {
    return environment().startWall + plat::foundation::Clock::process().now();
}

void setStartWallTime(double secondsSince1970) {
    environment().startWall = secondsSince1970;
}

std::uint32_t random32() {
    std::lock_guard lock(environment().mutex);
    return static_cast<std::uint32_t>(environment().random() >> 32);
}

void seedRandom(std::uint64_t seed) {
    std::lock_guard lock(environment().mutex);
    environment().random.seed(seed);
    environment().seeded = true;
}

std::string newUUID() {
    unsigned char bytes[16];
    {
        std::lock_guard lock(environment().mutex);
        if (!environment().seeded) return plat::sys::newUUIDString();
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(environment().random() >> 56);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return plat::sys::uuidString(bytes);
}

}  // namespace dk::trackwell
