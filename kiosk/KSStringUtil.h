// The content-ads client's text functions: digests that sign requests, URL-safe Base64 and hex,
// fresh tokens, percent encoding, query strings and HTML escaping. Pure functions of their input,
// except uuid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kiosk/KSJsonValue.h"

class KSStringUtil {
public:
    using Bytes = std::vector<std::uint8_t>;

    // SHA-1 of the text's UTF-8 bytes (20 bytes).
    static Bytes dataDigestForString(std::string_view text);
    // RFC 4648 base64url without padding: n bytes give (8n + 5) / 6 characters.
    static std::string base64EncodedStringForData(const void* data, std::size_t size);
    static std::string base64EncodedStringForData(const Bytes& data) {
        return base64EncodedStringForData(data.data(), data.size());
    }
    // Two lower-case hex digits a byte.
    static std::string hexEncodedStringForData(const Bytes& data);
    static std::string hexDigestForString(std::string_view text);
    static std::string b64DigestForString(std::string_view text);
    // b64DigestForString of the text of a new UUID, drawn from `source`.
    static std::string uuid(const std::function<std::string()>& source = {});

    // Every UTF-8 byte escaped ("%2F") but letters, digits and "-_.~".
    static std::string stringByUrlEncodingString(std::string_view text);
    // Percent escapes decoded; nothing when one is malformed or the bytes are no UTF-8.
    static std::optional<std::string> stringByUrlDecodingString(std::string_view text);

    // "key=value" pairs joined by "&", keys as they are, values strictly encoded; a null value is
    // empty. An empty object gives the empty text.
    static std::string stringWithQuery(const KSJsonObject& query);
    // The same, but null is written "<null>" (encoded).
    static std::string stringWithQueryQuirky(const KSJsonObject& query);
    // Pairs separated by runs of "&" and ";", each split at "=" into exactly two parts and
    // decoded; a later key replaces the value and keeps the first one's place. A part that does
    // not decode is kept as written. nullopt reads as nil: an empty object.
    static KSJsonObject dictionaryWithQueryString(std::optional<std::string_view> text);

    // The table's entities, ASCII as it is, every other character as "&#N;" of its code point.
    static std::string stringByHtmlEscapingString(std::string_view text);
};

namespace kiosk {

// Blanks to "+", then escaped but for letters, digits, the marks -_.!~*'() and the reserved
// characters ;/?:@&=+$, of RFC 2396.
std::string stringByEncodingURLFormat(std::string_view text);
// "+" to blanks, then percent escapes decoded; nothing when that fails.
std::optional<std::string> stringByDecodingURLFormat(std::string_view text);
// The text read as a query: pieces split at "&", each split at "=" (a piece with fewer than two
// parts is skipped; "a=b=c" gives a and b), both parts decoded, or kept as written when they do
// not decode. A repeated key gathers its values in an array, in order; keys keep the order of
// their first occurrence.
KSJsonObject dictionaryFromQueryComponents(std::string_view text);
// dictionaryFromQueryComponents of the URL's query (after "?", up to "#").
KSJsonObject queryComponents(std::string_view url);
// One "key=value" pair per value (per element of an array value), both encoded by
// stringByEncodingURLFormat, the value from its agnosticText; joined by "&". Nothing for an
// empty object.
std::optional<std::string> stringFromQueryComponents(const KSJsonObject& query);

}  // namespace kiosk
