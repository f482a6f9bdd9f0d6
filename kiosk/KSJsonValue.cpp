#include "kiosk/KSJsonValue.h"

#include <charconv>
#include <cmath>

#include "kiosk/KSJsonWriter.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Exponents are read saturated: anything this far out is out of range anyway.
constexpr long kExponentClamp = 1000000000L;

}  // namespace

KSDecimal::KSDecimal(std::int64_t value) {
    char buffer[24];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    *this = *fromString(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

std::optional<KSDecimal> KSDecimal::fromString(std::string_view text) {
    KSDecimal d;
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        d.m_negative = true;
        ++i;
    }
    std::string digits;
    long exponent = 0;
    std::size_t before = i;
    while (i < text.size() && isDigit(text[i])) digits += text[i++];
    if (i == before) return std::nullopt;
    if (i < text.size() && text[i] == '.') {
        ++i;
        before = i;
        while (i < text.size() && isDigit(text[i])) {
            digits += text[i++];
            --exponent;
        }
        if (i == before) return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool minus = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) minus = text[i++] == '-';
        before = i;
        long e = 0;
        while (i < text.size() && isDigit(text[i])) {
            if (e < kExponentClamp) e = e * 10 + (text[i] - '0');
            ++i;
        }
        if (i == before) return std::nullopt;
        exponent += minus ? -e : e;
    }
    if (i != text.size()) return std::nullopt;

    std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return KSDecimal();  // zero, "-0" included
    digits.erase(0, first);
    if (digits.size() > static_cast<std::size_t>(kMaxDigits)) {
        // Round half to even at the 38th digit.
        std::size_t drop = digits.size() - kMaxDigits;
        char next = digits[kMaxDigits];
        bool rest = digits.find_first_not_of('0', kMaxDigits + 1) != std::string::npos;
        digits.resize(kMaxDigits);
        exponent += static_cast<long>(drop);
        bool up = next > '5' || (next == '5' && (rest || (digits.back() - '0') % 2 == 1));
        if (up) {
            std::size_t k = digits.size();
            while (k > 0 && digits[k - 1] == '9') digits[--k] = '0';
            if (k == 0)
                digits.insert(digits.begin(), '1');  // all nines: one more digit, a trailing zero
            else
                ++digits[k - 1];
        }
    }
    std::size_t last = digits.find_last_not_of('0');
    exponent += static_cast<long>(digits.size() - 1 - last);
    digits.resize(last + 1);
    // The largest exponent is reached by padding the mantissa with zeros up to 38 digits.
    long spare = kMaxDigits - static_cast<long>(digits.size());
    if (exponent < kMinExponent || exponent - spare > kMaxExponent) return std::nullopt;
    d.m_digits = std::move(digits);
    d.m_exponent = static_cast<int>(exponent);
    return d;
}

KSDecimal KSDecimal::fromDouble(double value) {
    KSDecimal d;
    if (std::isnan(value)) {
        d.m_kind = Kind::NaN;
        return d;
    }
    if (std::isinf(value)) {
        d.m_kind = Kind::Infinity;
        d.m_negative = value < 0;
        return d;
    }
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    if (std::optional<KSDecimal> parsed = fromString(std::string_view(buffer, static_cast<std::size_t>(end - buffer))))
        return *parsed;
    // Beyond the range: too large is infinite, too small zero.
    if (std::fabs(value) >= 1) {
        d.m_kind = Kind::Infinity;
        d.m_negative = value < 0;
    }
    return d;
}

std::string KSDecimal::text() const {
    if (m_kind == Kind::NaN) return "NaN";
    if (m_kind == Kind::Infinity) return m_negative ? "-inf" : "inf";
    if (m_digits.empty()) return "0";
    std::string out = m_negative ? "-" : "";
    long point = static_cast<long>(m_digits.size()) + m_exponent;
    if (m_exponent >= 0) {
        out += m_digits;
        out.append(static_cast<std::size_t>(m_exponent), '0');
    } else if (point > 0) {
        out.append(m_digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(m_digits, static_cast<std::size_t>(point));
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += m_digits;
    }
    return out;
}

bool operator==(const KSDecimal& a, const KSDecimal& b) {
    if (a.m_kind != b.m_kind || a.m_kind == KSDecimal::Kind::NaN) return false;
    if (a.isZero() || b.isZero()) return a.isZero() && b.isZero();
    return a.m_negative == b.m_negative && a.m_digits == b.m_digits && a.m_exponent == b.m_exponent;
}

const KSJsonValue* KSJsonObject::find(std::string_view key) const {
    auto it = m_index.find(std::string(key));
    return it == m_index.end() ? nullptr : &m_members[it->second].second;
}

KSJsonValue* KSJsonObject::find(std::string_view key) {
    auto it = m_index.find(std::string(key));
    return it == m_index.end() ? nullptr : &m_members[it->second].second;
}

KSJsonValue& KSJsonObject::set(std::string key, KSJsonValue value) {
    auto [it, added] = m_index.try_emplace(key, m_members.size());
    if (!added) return m_members[it->second].second = std::move(value);
    m_members.emplace_back(std::move(key), std::move(value));
    return m_members.back().second;
}

bool operator==(const KSJsonObject& a, const KSJsonObject& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [key, value] : a) {
        const KSJsonValue* other = b.find(key);
        if (!other || !(*other == value)) return false;
    }
    return true;
}

bool operator==(const KSJsonValue& a, const KSJsonValue& b) {
    auto number = [](const KSJsonValue& v) -> std::optional<KSDecimal> {
        if (const std::int64_t* i = v.integer()) return KSDecimal(*i);
        if (const KSDecimal* d = v.decimal()) return *d;
        return std::nullopt;
    };
    if (a.type() != b.type()) {
        std::optional<KSDecimal> x = number(a), y = number(b);
        return x && y && *x == *y;
    }
    return a.m_v == b.m_v;
}

namespace kiosk {

std::string agnosticText(const KSJsonValue* value) {
    if (!value) return "(null)";
    switch (value->type()) {
        case KSJsonValue::Type::Null:
            return "<null>";
        case KSJsonValue::Type::Bool:
            return *value->boolean() ? "1" : "0";
        case KSJsonValue::Type::Integer:
            return std::to_string(*value->integer());
        case KSJsonValue::Type::Decimal:
            return value->decimal()->text();
        case KSJsonValue::Type::String:
            return *value->string();
        case KSJsonValue::Type::Array:
        case KSJsonValue::Type::Object:
            break;
    }
    KSJsonWriter writer;
    writer.setMaxDepth(0);
    return writer.stringWithObject(*value).value_or(std::string());
}

}  // namespace kiosk
