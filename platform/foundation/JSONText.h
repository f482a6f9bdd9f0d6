// JSON string escaping shared by the platform's JSON writer and the clients that write JSON by hand.
#pragma once

#include <string>
#include <string_view>

namespace plat::foundation {

// How control characters are escaped: Named writes \n \r \t \b \f as such and the rest as \u00xx;
// Numeric writes every one as \u00xx (for formats that were always written that way).
enum class JSONControlEscapes { Named, Numeric };

// The inside of a JSON string for `text`: quote, backslash and every control character escaped,
// all other bytes as they are (so UTF-8 stays UTF-8; '/' and DEL are not escaped).
void appendJSONEscaped(std::string& out, std::string_view text,
                       JSONControlEscapes controls = JSONControlEscapes::Named);

}  // namespace plat::foundation
