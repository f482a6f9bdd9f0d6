// What the platform's URL parser takes for a URL.
#pragma once

#include <string_view>

namespace plat::net {

// True when `text` reads as a URL, absolute or relative. Refused: blanks, the characters
// " < > \ ^ ` { | }, controls, bytes outside ASCII, and a "%" not followed by two hex digits.
// Nothing is resolved or looked up.
bool isValidURLString(std::string_view text);

}  // namespace plat::net
