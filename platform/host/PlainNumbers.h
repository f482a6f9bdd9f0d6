// The numbers the command line and the input script take, written the same way in both.
#pragma once

#include <string_view>

namespace plat::host {

// Digits with at most one point (".25", "12."), a leading '-' where allowed: no exponents, no hex,
// no inf or nan.
bool parsePlainDecimal(std::string_view word, bool allowSign, double* out);
// At most ten digits and nothing else, within [low, high].
bool parsePlainWhole(std::string_view word, long low, long high, long* out);

}  // namespace plat::host
