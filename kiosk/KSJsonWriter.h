// The content-ads client's JSON writer: an object or an array as compact or indented text.
#pragma once

#include <optional>
#include <string>

#include "kiosk/KSJsonBase.h"
#include "kiosk/KSJsonValue.h"

// Texts of failures the value type rules out (it holds no foreign objects and only string keys),
// kept for the code they belong to.
inline constexpr const char* kKSJsonNotSupportedFormat = "JSON serialisation not supported for %@";
inline constexpr const char* kKSJsonKeyNotString = "JSON object key must be string";

class KSJsonWriter : public KSJsonBase {
public:
    // The text of an object or an array; nothing on failure (any other value fails with code 4).
    // Clears the trace first.
    std::optional<std::string> stringWithObject(const KSJsonValue& value);
    // The same; on failure `error`, when given, receives the last error of the trace.
    std::optional<std::string> stringWithObject(const KSJsonValue& value, KSJsonError* error);

    // A line feed and two spaces per level before each element and closing bracket; " : "
    // between key and value.
    bool humanReadable() const { return m_humanReadable; }
    void setHumanReadable(bool on) { m_humanReadable = on; }
    // Members in the byte order of their UTF-8 keys rather than the object's own order.
    bool sortKeys() const { return m_sortKeys; }
    void setSortKeys(bool on) { m_sortKeys = on; }

private:
    bool appendValue(const KSJsonValue& value, std::string& out);
    bool appendArray(const KSJsonArray& array, std::string& out);
    bool appendDictionary(const KSJsonObject& object, std::string& out);
    void appendString(const std::string& text, std::string& out);
    void indent(std::string& out);

    bool m_humanReadable = false;
    bool m_sortKeys = false;
};
