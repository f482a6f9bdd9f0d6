// JSON string escaping shared by the platform's JSON writer and the clients that write JSON by hand.
#pragma once

#include <string>
#include <string_view>

namespace plat::foundation {

// The inside of a JSON string for `text`: quote, backslash and every control character escaped,
// all other bytes as they are (so UTF-8 stays UTF-8).
void appendJSONEscaped(std::string& out, std::string_view text);

}  // namespace plat::foundation
