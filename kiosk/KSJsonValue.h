// The content-ads client's own JSON value: null, bool, 64-bit integer, decimal, string, array and
// an object that keeps its keys in insertion order. Integers stay 64-bit and other numbers are
// decimals of up to 38 significant digits, so a number comes back as it was written. The client's
// text library (dk_kiosk_text) shares no JSON or value type with the platform.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

// A decimal number: mantissa of at most 38 digits times a power of ten from -128 to 127. Made
// from a double it may also be NaN or infinite, which no JSON text can carry.
class KSDecimal {
public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;

    KSDecimal() = default;  // zero
    explicit KSDecimal(std::int64_t value);
    // JSON number syntax ("-12.5e3"); digits past the 38th are rounded half to even. Nothing when
    // the text is no number or the value lies outside the range.
    static std::optional<KSDecimal> fromString(std::string_view text);
    // The shortest decimal that reads back as `value`; NaN and infinities are kept as such.
    static KSDecimal fromDouble(double value);

    bool isNaN() const { return m_kind == Kind::NaN; }
    bool isInfinite() const { return m_kind == Kind::Infinity; }
    bool isZero() const { return m_kind == Kind::Finite && m_digits.empty(); }
    // Positional, without exponent or trailing zeros; zero is "0" whatever its sign ("1.5",
    // "100", "0.001"). NaN and infinities read "NaN", "inf" and "-inf".
    std::string text() const;

    // By value: 1.50 equals 1.5; NaN equals nothing.
    friend bool operator==(const KSDecimal& a, const KSDecimal& b);

private:
    enum class Kind : std::uint8_t { Finite, NaN, Infinity };
    Kind m_kind = Kind::Finite;
    bool m_negative = false;
    std::string m_digits;  // the mantissa: no leading or trailing zero, empty for zero
    int m_exponent = 0;
};

class KSJsonValue;

// Members in insertion order; setting a key that is already there replaces its value in place.
class KSJsonObject {
public:
    using Member = std::pair<std::string, KSJsonValue>;

    std::size_t size() const;
    bool empty() const;
    std::vector<Member>::const_iterator begin() const;
    std::vector<Member>::const_iterator end() const;

    const KSJsonValue* find(std::string_view key) const;
    KSJsonValue* find(std::string_view key);
    // The value now under `key`.
    KSJsonValue& set(std::string key, KSJsonValue value);

    // As dictionaries compare: the same keys with equal values, in any order.
    friend bool operator==(const KSJsonObject& a, const KSJsonObject& b);

private:
    std::vector<Member> m_members;
    std::unordered_map<std::string, std::size_t> m_index;
};

using KSJsonArray = std::vector<KSJsonValue>;

class KSJsonValue {
public:
    enum class Type { Null, Bool, Integer, Decimal, String, Array, Object };

    KSJsonValue() = default;
    KSJsonValue(std::nullptr_t) {}
    KSJsonValue(bool v) : m_v(v) {}
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    KSJsonValue(T v) : m_v(static_cast<std::int64_t>(v)) {}
    KSJsonValue(KSDecimal v) : m_v(std::move(v)) {}
    KSJsonValue(const char* v) : m_v(std::string(v)) {}
    KSJsonValue(std::string v) : m_v(std::move(v)) {}
    KSJsonValue(KSJsonArray v) : m_v(std::move(v)) {}
    KSJsonValue(KSJsonObject v) : m_v(std::move(v)) {}

    Type type() const { return static_cast<Type>(m_v.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isContainer() const { return type() == Type::Array || type() == Type::Object; }

    // The contents when the value is of that type, else null.
    const bool* boolean() const { return std::get_if<bool>(&m_v); }
    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&m_v); }
    const KSDecimal* decimal() const { return std::get_if<KSDecimal>(&m_v); }
    const std::string* string() const { return std::get_if<std::string>(&m_v); }
    const KSJsonArray* array() const { return std::get_if<KSJsonArray>(&m_v); }
    KSJsonArray* array() { return std::get_if<KSJsonArray>(&m_v); }
    const KSJsonObject* object() const { return std::get_if<KSJsonObject>(&m_v); }
    KSJsonObject* object() { return std::get_if<KSJsonObject>(&m_v); }

    // Numbers compare by value whether integer or decimal (what a written decimal 100 reads back
    // as is the integer 100); a boolean is no number.
    friend bool operator==(const KSJsonValue& a, const KSJsonValue& b);

private:
    std::variant<std::nullptr_t, bool, std::int64_t, KSDecimal, std::string, KSJsonArray, KSJsonObject> m_v;
};

// Defined once KSJsonValue is complete, which the members' pair needs.
inline std::size_t KSJsonObject::size() const {
    return m_members.size();
}
inline bool KSJsonObject::empty() const {
    return m_members.empty();
}
inline std::vector<KSJsonObject::Member>::const_iterator KSJsonObject::begin() const {
    return m_members.begin();
}
inline std::vector<KSJsonObject::Member>::const_iterator KSJsonObject::end() const {
    return m_members.end();
}

namespace kiosk {

// The text a value stands for where the client formats it with "%@" (signatures, query values):
// a string itself, an integer in decimal, a decimal as its text, a boolean "1" or "0", null
// "<null>", a missing value (null pointer) "(null)", arrays and objects their compact JSON (the
// empty text when the writer refuses them: NaN, infinity, nesting past the cap).
std::string agnosticText(const KSJsonValue* value);

}  // namespace kiosk
