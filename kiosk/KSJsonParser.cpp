#include "kiosk/KSJsonParser.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/foundation/UTF8.h"
#include "platform/sys/Excerpt.h"

namespace utf8 = plat::foundation::utf8;

namespace {

std::string hexByte(const char* format, unsigned char c) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(c));
    return buffer;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<KSJsonValue> KSJsonParser::objectWithString(std::optional<std::string_view> text) {
    reset();
    if (!text) {
        addErrorWithCode(kKSJsonInputNil, "Input was 'nil'");
        return std::nullopt;
    }
    m_c = text->data();
    const void* nul = text->empty() ? nullptr : std::memchr(m_c, 0, text->size());
    m_end = nul ? static_cast<const char*>(nul) : m_c + text->size();

    KSJsonValue value;
    if (!scanValue(value)) return std::nullopt;
    if (!scanIsAtEnd()) {
        addErrorWithCode(kKSJsonGarbage, "Garbage after JSON");
        return std::nullopt;
    }
    if (!value.isContainer()) {
        addErrorWithCode(kKSJsonFragment, "Valid fragment, but not JSON");
        return std::nullopt;
    }
    return value;
}

std::optional<KSJsonValue> KSJsonParser::objectWithString(std::optional<std::string_view> text, KSJsonError* error) {
    std::optional<KSJsonValue> value = objectWithString(text);
    if (!value && error && !errorTrace().empty()) *error = errorTrace().back();
    return value;
}

// The C library's isspace in the C locale.
void KSJsonParser::skipWhitespace() {
    while (m_c != m_end && (*m_c == ' ' || (*m_c >= '\t' && *m_c <= '\r'))) ++m_c;
}

bool KSJsonParser::scanIsAtEnd() {
    skipWhitespace();
    return atEnd();
}

bool KSJsonParser::scanValue(KSJsonValue& out) {
    skipWhitespace();
    if (atEnd()) {
        addErrorWithCode(kKSJsonEndOfInput, "Unexpected end of string");
        return false;
    }
    char c = *m_c;
    switch (c) {
        case '"': {
            ++m_c;
            std::string text;
            if (!scanRestOfString(text)) return false;
            out = KSJsonValue(std::move(text));
            return true;
        }
        case '[':
            ++m_c;
            return scanRestOfArray(out);
        case '{':
            ++m_c;
            return scanRestOfDictionary(out);
        case 't':
            ++m_c;
            return scanRestOfTrue(out);
        case 'f':
            ++m_c;
            return scanRestOfFalse(out);
        case 'n':
            ++m_c;
            return scanRestOfNull(out);
        case '+':
            addErrorWithCode(kKSJsonBadNumber, "Leading + disallowed in number");
            return false;
        default:
            if (c == '-' || isDigit(c)) return scanNumber(out);
            addErrorWithCode(kKSJsonParse, "Unrecognised leading character");
            return false;
    }
}

bool KSJsonParser::scanWord(std::string_view rest, const char* error) {
    if (static_cast<std::size_t>(m_end - m_c) < rest.size() || std::string_view(m_c, rest.size()) != rest) {
        addErrorWithCode(kKSJsonParse, error);
        return false;
    }
    m_c += rest.size();
    return true;
}

bool KSJsonParser::scanRestOfTrue(KSJsonValue& out) {
    if (!scanWord("rue", "Expected 'true'")) return false;
    out = KSJsonValue(true);
    return true;
}

bool KSJsonParser::scanRestOfFalse(KSJsonValue& out) {
    if (!scanWord("alse", "Expected 'false'")) return false;
    out = KSJsonValue(false);
    return true;
}

bool KSJsonParser::scanRestOfNull(KSJsonValue& out) {
    if (!scanWord("ull", "Expected 'null'")) return false;
    out = KSJsonValue(nullptr);
    return true;
}

bool KSJsonParser::scanRestOfArray(KSJsonValue& out) {
    if (!enterContainer()) return false;
    KSJsonArray array;
    while (!atEnd()) {
        skipWhitespace();
        if (!atEnd() && *m_c == ']') {
            ++m_c;
            leaveContainer();
            out = KSJsonValue(std::move(array));
            return true;
        }
        KSJsonValue element;
        if (!scanValue(element)) {
            addErrorWithCode(kKSJsonParse, "Expected value while parsing array");
            return false;
        }
        array.push_back(std::move(element));
        // Elements without a comma between them are let through.
        skipWhitespace();
        if (!atEnd() && *m_c == ',') {
            ++m_c;
            skipWhitespace();
            if (!atEnd() && *m_c == ']') {
                addErrorWithCode(kKSJsonTrailingComma, "Trailing comma disallowed in array");
                return false;
            }
        }
    }
    addErrorWithCode(kKSJsonEndOfInput, "End of input while parsing array");
    return false;
}

bool KSJsonParser::scanRestOfDictionary(KSJsonValue& out) {
    if (!enterContainer()) return false;
    KSJsonObject object;
    while (!atEnd()) {
        skipWhitespace();
        if (!atEnd() && *m_c == '}') {
            ++m_c;
            leaveContainer();
            out = KSJsonValue(std::move(object));
            return true;
        }
        std::string key;
        if (atEnd() || *m_c != '"' || (++m_c, !scanRestOfString(key))) {
            addErrorWithCode(kKSJsonParse, "Object key string expected");
            return false;
        }
        skipWhitespace();
        if (atEnd() || *m_c != ':') {
            addErrorWithCode(kKSJsonParse, "Expected ':' separating key and value");
            return false;
        }
        ++m_c;
        KSJsonValue value;
        if (!scanValue(value)) {
            addErrorWithCode(kKSJsonParse, "Object value expected for key: " + plat::sys::excerpt(key));
            return false;
        }
        object.set(std::move(key), std::move(value));
        skipWhitespace();
        if (!atEnd() && *m_c == ',') {
            ++m_c;
            skipWhitespace();
            if (!atEnd() && *m_c == '}') {
                addErrorWithCode(kKSJsonTrailingComma, "Trailing comma disallowed in object");
                return false;
            }
        }
    }
    addErrorWithCode(kKSJsonEndOfInput, "End of input while parsing object");
    return false;
}

bool KSJsonParser::scanRestOfString(std::string& out) {
    auto plain = [](char c) { return c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 32; };
    auto appendRun = [&](const char* from, const char* to) {
        std::string_view run(from, static_cast<std::size_t>(to - from));
        if (utf8::valid(run)) {
            out += run;
            return true;
        }
        addErrorWithCode(kKSJsonParse, "Invalid UTF-8 in string");
        return false;
    };

    const char* run = m_c;
    while (m_c != m_end && plain(*m_c)) ++m_c;
    if (m_c != m_end && *m_c == '"' && m_c != run) {
        if (!appendRun(run, m_c)) return false;
        ++m_c;
        return true;
    }
    for (;;) {
        if (!appendRun(run, m_c)) return false;
        unsigned char c = atEnd() ? 0 : static_cast<unsigned char>(*m_c);
        if (c == '"') {
            ++m_c;
            return true;
        }
        if (c != '\\') {
            addErrorWithCode(kKSJsonControlCharacter, hexByte("Unescaped control character '0x%x'", c));
            return false;
        }
        if (++m_c == m_end) {
            addErrorWithCode(kKSJsonEndOfInput, "Unexpected EOF while parsing string");
            return false;
        }
        char escape = *m_c++;
        switch (escape) {
            case '"':
            case '\\':
            case '/':
                out += escape;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                if (!scanUnicodeChar(out)) {
                    addErrorWithCode(kKSJsonUnicode, "Broken unicode character");
                    return false;
                }
                break;
            default:
                addErrorWithCode(kKSJsonEscape,
                                 hexByte("Illegal escape sequence '0x%x'", static_cast<unsigned char>(escape)));
                return false;
        }
        run = m_c;
        while (m_c != m_end && plain(*m_c)) ++m_c;
    }
}

bool KSJsonParser::scanUnicodeChar(std::string& out) {
    unsigned high;
    if (!scanHexQuad(high)) {
        addErrorWithCode(kKSJsonUnicode, "Missing hex quad");
        return false;
    }
    std::uint32_t cp = high;
    if (utf8::isHighSurrogate(high)) {
        if (m_end - m_c < 2 || m_c[0] != '\\' || m_c[1] != 'u') {
            addErrorWithCode(kKSJsonUnicode, "Missing low character in surrogate pair");
            return false;
        }
        m_c += 2;
        unsigned low;
        if (!scanHexQuad(low)) {
            addErrorWithCode(kKSJsonUnicode, "Missing hex quad");
            return false;
        }
        if (!utf8::isLowSurrogate(low)) {
            addErrorWithCode(kKSJsonUnicode, "Invalid low surrogate char");
            return false;
        }
        cp = utf8::fromSurrogates(high, low);
    } else if (utf8::isLowSurrogate(high)) {
        addErrorWithCode(kKSJsonUnicode, "Invalid high character in surrogate pair");
        return false;
    }
    utf8::append(out, cp);
    return true;
}

bool KSJsonParser::scanHexQuad(unsigned& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
        char c = atEnd() ? '\0' : *m_c;
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else {
            addErrorWithCode(kKSJsonUnicode, "Missing hex digit in quad");
            return false;
        }
        out = out * 16 + digit;
        ++m_c;
    }
    return true;
}

bool KSJsonParser::scanNumber(KSJsonValue& out) {
    const char* start = m_c;
    auto digitHere = [this] { return !atEnd() && isDigit(*m_c); };
    auto skipDigits = [&] {
        while (digitHere()) ++m_c;
    };
    bool negative = !atEnd() && *m_c == '-';
    if (negative) ++m_c;
    if (!atEnd() && *m_c == '0') {
        ++m_c;
        if (digitHere()) {
            addErrorWithCode(kKSJsonBadNumber, "Leading 0 disallowed in number");
            return false;
        }
    } else if (digitHere()) {
        skipDigits();
    } else {
        addErrorWithCode(kKSJsonBadNumber, "No digits after initial minus");
        return false;
    }
    const char* integerEnd = m_c;
    bool simple = true;
    if (!atEnd() && *m_c == '.') {
        simple = false;
        ++m_c;
        if (!digitHere()) {
            addErrorWithCode(kKSJsonBadNumber, "No digits after decimal point");
            return false;
        }
        skipDigits();
    }
    if (!atEnd() && (*m_c == 'e' || *m_c == 'E')) {
        simple = false;
        ++m_c;
        if (!atEnd() && (*m_c == '+' || *m_c == '-')) ++m_c;
        if (!digitHere()) {
            addErrorWithCode(kKSJsonBadNumber, "No digits after exponent");
            return false;
        }
        skipDigits();
    }

    if (simple) {
        // Checked before each step; the sign comes last, so the most negative integer is read as
        // a decimal.
        constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
        std::int64_t value = 0;
        bool fits = true;
        for (const char* p = start + (negative ? 1 : 0); p != integerEnd && fits; ++p) {
            int digit = *p - '0';
            if (value > (kMax - digit) / 10)
                fits = false;
            else
                value = value * 10 + digit;
        }
        if (fits) {
            out = KSJsonValue(negative ? -value : value);
            return true;
        }
    }
    std::optional<KSDecimal> decimal = KSDecimal::fromString(std::string_view(start, static_cast<std::size_t>(m_c - start)));
    if (!decimal) {
        addErrorWithCode(kKSJsonBadNumber, "Failed creating decimal instance");
        return false;
    }
    out = KSJsonValue(std::move(*decimal));
    return true;
}
