// The client's helpers: tolerant key-path readers that never fail and read the text "null" as
// absent, query strings, the device identifier's wire form, Base64 and SHA-1 text, errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "orbad/core/OrbadJSON.h"
#include "platform/ui/View.h"

namespace plat::ui {
class ViewController;
}

namespace orbad {

// The client's error domain.
inline constexpr std::string_view kOBAdsErrorDomain = "com.drovik.orbad.ErrorDomain";

// ---- dictionary readers; a path is keys joined by "." and never passes through an array ----

// The value at `keyPath`; null when any step is missing or not a dictionary.
const Value* valueForKeyPath(const Value& dictionary, std::string_view keyPath);
float floatForKeyPath(const Value& dictionary, std::string_view keyPath);
int64_t integerForKeyPath(const Value& dictionary, std::string_view keyPath);
// Text as itself, numbers as numberDescription(); nothing for "null", arrays and objects.
std::optional<std::string> stringForKeyPath(const Value& dictionary, std::string_view keyPath);
// The string when it is non-empty and holds "://".
std::optional<std::string> urlForKeyPath(const Value& dictionary, std::string_view keyPath);
// Components ".r", ".g", ".b", ".a" under the path, each over 255.
std::optional<plat::ui::Color> colorForKeyPath(const Value& dictionary, std::string_view keyPath);
enum class TextAlignment { Left = 0, Center = 1, Right = 2 };
TextAlignment alignmentForKeyPath(const Value& dictionary, std::string_view keyPath);
// "key=value" pairs, both URL-encoded, in the dictionary's order, joined by "&".
std::string obBuildQueryString(const Value& dictionary);

// ---- mutable dictionaries ----
inline void setBool(Value::Dictionary& d, std::string key, bool v) {
    d.insert_or_assign(std::move(key), Value(v));
}
inline void setInteger(Value::Dictionary& d, std::string key, int64_t v) {
    d.insert_or_assign(std::move(key), Value(v));
}
inline void setUnsignedInteger(Value::Dictionary& d, std::string key, uint64_t v) {
    d.insert_or_assign(std::move(key), Value(v));
}
inline void setDouble(Value::Dictionary& d, std::string key, double v) {
    d.insert_or_assign(std::move(key), Value(v));
}
inline void setFloat(Value::Dictionary& d, std::string key, float v) {
    d.insert_or_assign(std::move(key), Value(static_cast<double>(v)));
}
inline void setUTF8String(Value::Dictionary& d, std::string key, const char* v) {
    d.insert_or_assign(std::move(key), Value(v ? v : ""));
}

// ---- strings ----

// The ASCII bytes Base64-encoded with line separation, then that text's bytes in upper-case hex.
std::string orbadEncode(std::string_view text);
// UTF-8, upper-case hex, space as %20; everything but letters, digits and "-._" is escaped.
std::string obURLEncodedString(std::string_view text);
// "+" to space, then %XX escapes decoded; an escape that is not two hex digits stays as written,
// and so does a decoding that is not UTF-8.
std::string obURLDecodedString(std::string_view text);
std::string obStringByAddingHTMLEscapes(std::string_view text);
// Pieces split on "&"; the text before the first "=" is the key; pieces without "=" skipped; a
// later key wins.
Value::Dictionary obComponentsFromQueryString(std::string_view query);

// ---- data ----
std::string stringWithHexBytes(const Data& data);
std::string orbadBase64EncodedString(const Data& data);
Data orbadDataFromBase64EncodedString(std::string_view text);

// Base64 (RFC 4648 alphabet, "=" padding); with `separateLines`, CR LF after every 64 characters
// but the last line's.
std::string OBNewBase64Encode(const uint8_t* bytes, size_t length, bool separateLines);
// Every byte outside the alphabet is skipped; a final group of 2 or 3 characters gives 1 or 2
// bytes, of one character nothing.
Data OBNewBase64Decode(const char* text, size_t length);
// 40 upper-case hex digits.
std::string OBConvertDataToSHA1String(const Data& data);

// ---- errors ----
// No description; a description under the localized-description key; or the user info given.
Error obErrorWithCode(int code);
Error obErrorWithCode(int code, std::string description);
Error obErrorWithCode(int code, Value::Dictionary userInfo);
// The deserializer's reading (null as a null Value).
std::optional<Value> obDictionaryWithJSONData(const Data& data, Error* error = nullptr);

// ---- views ----
// The first subview whose class name is `className`: direct subviews first, then (unless
// `topLevelOnly`) each subview's tree in order.
std::shared_ptr<plat::ui::View> subviewWithClassName(const plat::ui::View& view, std::string_view className,
                                                     bool topLevelOnly = false);
// No pop-over controller exists on this platform.
inline bool obInPopoverController(const plat::ui::ViewController&) {
    return false;
}

}  // namespace orbad
