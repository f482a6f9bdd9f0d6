// The "madview" command URLs a rich-media page navigates to, and the one way page text goes back
// into a script.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orbad {

class OrbadRichMediaURLParser {
public:
    // The text from index 10 (past "madview://") up to the first "?"; "" for a URL too short to
    // hold a name, or whose "?" comes before index 10.
    static std::string extractFunctionCallFromURL(std::string_view url);
    // The pairs after the first "?": a name runs to the next "=" (even across "&"), its value to
    // the next "&". Empty values and "null" in any case are left out; a later name wins. Not
    // percent-decoded.
    static std::map<std::string, std::string> extractParametersFromUrl(std::string_view url);
    // The value of `name` among such pairs; nullopt when it is absent.
    static std::optional<std::string> parameter(const std::map<std::string, std::string>& parameters,
                                                const char* name);
};

// `text` made safe inside a single-quoted JavaScript literal: backslash, quote, line breaks, U+2028,
// U+2029 and other control characters escaped; any other text stays as it is.
std::string orbadJSQuoted(std::string_view text);

// Percent-decoded as UTF-8 bytes; a "%" without two hex digits stays.
std::string orbadPercentDecoded(std::string_view text);

}  // namespace orbad
