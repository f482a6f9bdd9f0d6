// One value type for the dynamic data of the platform: what property lists, user defaults and JSON
// carry (null, bool, integer, real, string, data, date in seconds since 1970, array, dictionary with
// keys in byte order). Its conversions are the platform's: boolValue of a string looks past blanks, a
// sign and zeros for Y, y, T, t or 1-9; intValue/doubleValue read the leading decimal text in the C
// locale. canonicalJSON is one line: reals "%.17g" (null when not finite), data
// {"data":"<base64>"}, dates {"date":"YYYY-MM-DDTHH:MM:SSZ"}; fromJSON reads those two forms back.
#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plat::foundation {

using Data = std::vector<uint8_t>;

// A moment as seconds since 1970-01-01T00:00:00Z. Property-list files count from 2001; only
// PropertyList.cpp converts.
struct Date {
    double seconds = 0;

    // "YYYY-MM-DDTHH:MM:SSZ", the second rounded down; years outside 0-9999 are clamped.
    std::string iso8601() const;
    // Reads exactly that form; nullopt for anything else.
    static std::optional<Date> fromISO8601(std::string_view text);

    friend bool operator==(const Date&, const Date&) = default;
};

std::string base64Encode(const Data& data);
// Standard alphabet, padding optional; nullopt on any other character.
std::optional<Data> base64Decode(std::string_view text);

class Value {
public:
    enum class Type { Null, Bool, Integer, Real, String, Data, Date, Array, Dictionary };
    using Array = std::vector<Value>;
    // Keys in byte order, which is the order of the canonical JSON text.
    using Dictionary = std::map<std::string, Value, std::less<>>;

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool v) : m_v(v) {}
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    Value(T v) : m_v(static_cast<int64_t>(v)) {}
    Value(double v) : m_v(v) {}
    Value(const char* v) : m_v(std::string(v)) {}
    Value(std::string_view v) : m_v(std::string(v)) {}
    Value(std::string v) : m_v(std::move(v)) {}
    Value(Data v) : m_v(std::move(v)) {}
    Value(Date v) : m_v(v) {}
    Value(Array v) : m_v(std::move(v)) {}
    Value(Dictionary v) : m_v(std::move(v)) {}

    Type type() const { return static_cast<Type>(m_v.index()); }
    bool isNull() const { return type() == Type::Null; }

    // The contents when the value is of that type, else null.
    const std::string* string() const { return std::get_if<std::string>(&m_v); }
    const Data* data() const { return std::get_if<Data>(&m_v); }
    const Date* date() const { return std::get_if<Date>(&m_v); }
    const Array* array() const { return std::get_if<Array>(&m_v); }
    Array* array() { return std::get_if<Array>(&m_v); }
    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&m_v); }
    Dictionary* dictionary() { return std::get_if<Dictionary>(&m_v); }
    // The entry of a dictionary; null when absent or when this is no dictionary.
    const Value* find(std::string_view key) const;

    // The platform's conversions. Numbers: boolValue is "not zero", reals are truncated (and
    // saturated) for intValue. Strings: boolValue skips leading blanks, a sign and leading zeros,
    // then is true on Y, y, T, t or 1-9; intValue and doubleValue read the leading numeric text
    // (0 when there is none). Anything else is false or 0.
    bool boolValue() const;
    int64_t intValue() const;
    double doubleValue() const;
    // A string is itself; numbers as the platform prints them ("1" for true, reals as the
    // shortest text that reads back); a date "YYYY-MM-DD HH:MM:SS +0000"; data "<0a0b0c0d 0e>";
    // null "<null>"; arrays and dictionaries as their canonical JSON.
    std::string description() const;

    // One line: no spaces, dictionary keys in byte order, reals "%.17g" (null when not finite),
    // data {"data":"<base64>"}, dates {"date":"YYYY-MM-DDTHH:MM:SSZ"}.
    std::string canonicalJSON() const;
    // Reads JSON; the one-key objects {"data": string} and {"date": string} are read back as data
    // and dates. Integers that fit 64 bits are integers, other numbers reals. Nullopt with a
    // message naming the offset on malformed text.
    static std::optional<Value> fromJSON(std::string_view text, std::string* error = nullptr);

    friend bool operator==(const Value&, const Value&) = default;

private:
    std::variant<std::monostate, bool, int64_t, double, std::string, Data, Date, Array, Dictionary> m_v;
};

}  // namespace plat::foundation
