// The metrics client's JSON text blobs, written member by member: session open and close, event,
// flow, opt change and upload header with its device facts. Pure text, no store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace dk::trackwell {

// A JSON string's contents: `\ " \n \r \t \b \f` escaped, other bytes below 0x20 as \u00XX, and
// each byte that begins no well-formed UTF-8 sequence replaced by U+FFFD. Ordinary text comes out
// byte for byte.
std::string escapeString(std::string_view text);

// An attribute's value as the caller gave it; written as its description (5 -> "5", true -> "1").
using AttributeValue = std::variant<std::string, double, bool>;
// Attributes in the caller's order.
using AttributeList = std::vector<std::pair<std::string, AttributeValue>>;
std::string describe(const AttributeValue& value);

// Numbers as the collectors read them: truncated toward zero, then kept to 32 bits.
std::uint32_t truncateUnsigned(double value);
std::int32_t truncateSigned(double value);

// Writes one object: the first member bare, each later one after ",".
class BlobWriter {
public:
    BlobWriter() { m_text = "{"; }
    BlobWriter& string(std::string_view name, const std::optional<std::string>& value);
    BlobWriter& string(std::string_view name, const char* value) { return string(name, std::string(value)); }
    BlobWriter& number(std::string_view name, long long value);
    BlobWriter& boolean(std::string_view name, bool value);
    // `json` is a ready JSON value (array or object).
    BlobWriter& raw(std::string_view name, std::string_view json);
    // Custom dimensions: ,"c<slot>":"<value>" for each slot that holds one.
    BlobWriter& dimensions(const std::optional<std::string> (&values)[4]);
    std::string finish() { return m_text + "}"; }

private:
    void name(std::string_view name);
    std::string m_text;
    bool m_first = true;
};

// {"key":"description",...} in the list's order; {} when empty.
std::string attributesObject(const AttributeList& attributes);

// One flow entry, {"e":"name"} or {"s":"name"}, and a screen's quoted name.
std::string flowEntry(std::string_view type, std::string_view name);
std::string quotedScreen(std::string_view name);

// The device facts of an upload header; absent strings are written as null.
struct HeaderFacts {
    std::optional<std::string> installationId, applicationKey, appVersion, systemIdentifier, udid, model,
        systemVersion, machine, userId, releaseId;
    bool live = false;
    std::string macDigest;
    std::uint64_t freeMemory = 0;  // "dmem": clamped to 2,147,483,647, never wrapped
    std::optional<std::string> languageName, countryName, countryCode;
    bool jailbroken = false;
};
std::string deviceFactsObject(const HeaderFacts& facts);
std::string headerBlob(int sequence, double created, const std::string& uuid, const HeaderFacts& facts);

}  // namespace dk::trackwell
