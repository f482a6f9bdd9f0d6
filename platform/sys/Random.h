// The platform's random source (arc4random_uniform), seedable. DROVIK_FIXED_RANDOM=N fixes every draw at N
// (held below the bound), read at each draw, so tests and outside checks choose the outcome.
#pragma once

#include <cstdint>

namespace plat::sys {

// Uniform in [0, upperBound); 0 when the bound is 0.
std::uint32_t randomUniform(std::uint32_t upperBound);

// From here on, draws come from a generator seeded with `seed` (a tool's --seed), so a run repeats.
void seedRandom(std::uint64_t seed);

}  // namespace plat::sys
