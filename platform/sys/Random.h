// The platform's random source (arc4random_uniform). DROVIK_FIXED_RANDOM=N fixes every draw at N
// (held below the bound), read at each draw, so tests and outside checks choose the outcome.
#pragma once

#include <cstdint>

namespace plat::sys {

// Uniform in [0, upperBound); 0 when the bound is 0.
std::uint32_t randomUniform(std::uint32_t upperBound);

}  // namespace plat::sys
