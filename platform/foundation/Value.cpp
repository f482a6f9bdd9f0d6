#include "platform/foundation/Value.h"

#include <locale.h>
#include <stdlib.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/foundation/JSONText.h"

namespace plat::foundation {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date, and back (H. Hinnant's civil algorithms).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    int64_t year;
    int month, day, hour, minute, second;
};

Civil civilFromSeconds(double seconds) {
    constexpr int64_t kFirst = -62167219200;  // 0000-01-01T00:00:00Z
    constexpr int64_t kLast = 253402300799;   // 9999-12-31T23:59:59Z
    int64_t s = 0;
    if (!std::isnan(seconds)) {
        const double floored = std::floor(seconds);
        s = floored < kFirst ? kFirst : floored > kLast ? kLast : static_cast<int64_t>(floored);
    }
    int64_t days = s >= 0 ? s / 86400 : (s - 86399) / 86400;
    const int64_t inDay = s - days * 86400;
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2), month, day, static_cast<int>(inDay / 3600),
            static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60)};
}

std::string formatCivil(double seconds, const char* format) {
    const Civil c = civilFromSeconds(seconds);
    char text[40];
    std::snprintf(text, sizeof text, format, static_cast<int>(c.year), c.month, c.day, c.hour, c.minute, c.second);
    return text;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The text after leading blanks.
std::string_view skipBlanks(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    return s.substr(i);
}

bool stringBool(std::string_view s) {
    s = skipBlanks(s);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    while (i < s.size() && s[i] == '0') ++i;
    if (i == s.size()) return false;
    const char c = s[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

int64_t stringInt(std::string_view s) {
    s = skipBlanks(s);
    size_t i = 0;
    const bool negative = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        const unsigned digit = s[i] - '0';
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

double stringDouble(std::string_view s) {
    s = skipBlanks(s);
    // The longest prefix of the form [sign] digits [. digits] [e [sign] digits]: decimal only, so
    // neither hexadecimal nor "inf" or "nan" are read.
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i) ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && isDigit(s[i]); ++i) ++digits;
    if (digits == 0) return 0;
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) ++j;
            end = j;
        }
    }
    // strtod saturates to infinity and underflows to zero as wanted; the C locale keeps the
    // decimal point a point whatever the program set.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    const std::string number(s.substr(0, end));
    return strtod_l(number.c_str(), nullptr, cLocale);
}

int64_t truncated(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (v <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

void appendJSONString(std::string& out, std::string_view s) {
    out += '"';
    appendJSONEscaped(out, s);
    out += '"';
}

void appendJSON(std::string& out, const Value& v) {
    switch (v.type()) {
    case Value::Type::Null: out += "null"; break;
    case Value::Type::Bool: out += v.boolValue() ? "true" : "false"; break;
    case Value::Type::Integer: out += std::to_string(v.intValue()); break;
    case Value::Type::Real: {
        const double d = v.doubleValue();
        if (!std::isfinite(d)) {
            out += "null";
            break;
        }
        std::array<char, 40> text;
        const auto result = std::to_chars(text.begin(), text.end(), d, std::chars_format::general, 17);
        out.append(text.begin(), result.ptr);
        break;
    }
    case Value::Type::String: appendJSONString(out, *v.string()); break;
    case Value::Type::Data:
        out += "{\"data\":\"" + base64Encode(*v.data()) + "\"}";
        break;
    case Value::Type::Date: out += "{\"date\":\"" + v.date()->iso8601() + "\"}"; break;
    case Value::Type::Array: {
        out += '[';
        bool first = true;
        for (const Value& item : *v.array()) {
            if (!std::exchange(first, false)) out += ',';
            appendJSON(out, item);
        }
        out += ']';
        break;
    }
    case Value::Type::Dictionary: {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : *v.dictionary()) {
            if (!std::exchange(first, false)) out += ',';
            appendJSONString(out, key);
            out += ':';
            appendJSON(out, item);
        }
        out += '}';
        break;
    }
    }
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string Date::iso8601() const {
    return formatCivil(seconds, "%04d-%02d-%02dT%02d:%02d:%02dZ");
}

std::optional<Date> Date::fromISO8601(std::string_view text) {
    if (text.size() != 20) return std::nullopt;
    static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:ddZ";
    for (size_t i = 0; i < text.size(); ++i)
        if (kShape[i] == 'd' ? !isDigit(text[i]) : text[i] != kShape[i]) return std::nullopt;
    auto number = [&](size_t at, size_t length) {
        int n = 0;
        for (size_t i = at; i < at + length; ++i) n = n * 10 + (text[i] - '0');
        return n;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap) ||
        hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return Date{static_cast<double>(daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second)};
}

std::string base64Encode(const Data& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = std::min<size_t>(3, data.size() - i);
        uint32_t group = data[i] << 16;
        if (n > 1) group |= data[i + 1] << 8;
        if (n > 2) group |= data[i + 2];
        for (size_t k = 0; k < 4; ++k) out += k <= n ? kBase64[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

std::optional<Data> base64Decode(std::string_view text) {
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    if (text.size() % 4 == 1) return std::nullopt;
    Data out;
    out.reserve(text.size() * 3 / 4);
    uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        const char* at = c ? std::char_traits<char>::find(kBase64, 64, c) : nullptr;
        if (!at) return std::nullopt;
        group = (group << 6) | static_cast<uint32_t>(at - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(group >> bits));
        }
    }
    return out;
}

const Value* Value::find(std::string_view key) const {
    const Dictionary* d = dictionary();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

bool Value::boolValue() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(m_v);
    case Type::Integer: return std::get<int64_t>(m_v) != 0;
    case Type::Real: return std::get<double>(m_v) != 0;
    case Type::String: return stringBool(std::get<std::string>(m_v));
    default: return false;
    }
}

int64_t Value::intValue() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(m_v);
    case Type::Integer: return std::get<int64_t>(m_v);
    case Type::Real: return truncated(std::get<double>(m_v));
    case Type::String: return stringInt(std::get<std::string>(m_v));
    default: return 0;
    }
}

double Value::doubleValue() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(m_v);
    case Type::Integer: return static_cast<double>(std::get<int64_t>(m_v));
    case Type::Real: return std::get<double>(m_v);
    case Type::String: return stringDouble(std::get<std::string>(m_v));
    default: return 0;
    }
}

std::string Value::description() const {
    switch (type()) {
    case Type::Null: return "<null>";
    case Type::Bool: return std::get<bool>(m_v) ? "1" : "0";
    case Type::Integer: return std::to_string(std::get<int64_t>(m_v));
    case Type::Real: {
        std::array<char, 40> text;
        const auto result = std::to_chars(text.begin(), text.end(), std::get<double>(m_v));
        return std::string(text.begin(), result.ptr);
    }
    case Type::String: return std::get<std::string>(m_v);
    case Type::Data: {
        static constexpr char kHex[] = "0123456789abcdef";
        std::string out = "<";
        const Data& bytes = std::get<Data>(m_v);
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i > 0 && i % 4 == 0) out += ' ';
            out += kHex[bytes[i] >> 4];
            out += kHex[bytes[i] & 15];
        }
        return out + ">";
    }
    case Type::Date: return formatCivil(std::get<Date>(m_v).seconds, "%04d-%02d-%02d %02d:%02d:%02d +0000");
    case Type::Array:
    case Type::Dictionary: return canonicalJSON();
    }
    return {};
}

std::string Value::canonicalJSON() const {
    std::string out;
    appendJSON(out, *this);
    return out;
}

void appendJSONEscaped(std::string& out, std::string_view text, JSONControlEscapes controls) {
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x20) {
            out += c;
            continue;
        }
        const char* name = nullptr;
        if (controls == JSONControlEscapes::Named) {
            switch (c) {
            case '\n': name = "\\n"; break;
            case '\r': name = "\\r"; break;
            case '\t': name = "\\t"; break;
            case '\b': name = "\\b"; break;
            case '\f': name = "\\f"; break;
            default: break;
            }
        }
        char escape[8];
        if (!name) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            name = escape;
        }
        out += name;
    }
}

}  // namespace plat::foundation
