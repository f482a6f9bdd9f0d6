#include "tables/TableUtil.h"

#include <locale.h>

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <limits>

namespace dk::tables {

void cellSubstitute(std::string& text, char character, std::string_view replacement) {
    // One pass: the text after a position is still the original there, so checking the original
    // for an existing replacement is the same as checking the text being rewritten.
    size_t pos = text.find(character);
    if (pos == std::string::npos) return;
    std::string out(text, 0, pos);
    for (; pos < text.size(); ++pos) {
        if (text[pos] == character && text.compare(pos, replacement.size(), replacement) != 0)
            out += replacement;
        else
            out += text[pos];
    }
    text = std::move(out);
}

namespace {

// Returns the entity for one character of a name or cell, or nullptr when it is kept as it is.
inline const char* xmlEntity(std::string_view text, size_t i) {
    switch (text[i]) {
        case '&':
            return text.compare(i, 5, "&amp;") == 0 ? nullptr : "&amp;";
        case '\'':
            return "&apos;";
        case '"':
            return "&quot;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        default:
            return nullptr;
    }
}

}  // namespace

void appendXmlText(std::string& out, std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (const char* entity = xmlEntity(text, i))
            out += entity;
        else
            out += text[i];
    }
}

void appendXmlCell(std::string& out, std::string_view text) {
    size_t start = 0;  // copy runs of plain characters in one go
    for (size_t i = 0; i < text.size(); ++i) {
        const char* replacement;
        switch (text[i]) {
            case '\\':
                replacement = "\\\\";
                break;
            case ',':
                replacement = "\\,";
                break;
            case '\n':
                replacement = "\\n";
                break;
            case '\r':
                replacement = "\\r";
                break;
            case '\t':
                replacement = "\\t";
                break;
            default:
                replacement = xmlEntity(text, i);
        }
        if (!replacement) continue;
        out.append(text, start, i - start);
        out += replacement;
        start = i + 1;
    }
    out.append(text, start, text.size() - start);
}

void csvDecode(std::string& text) {
    static constexpr struct {
        std::string_view entity;
        char character;
    } kEntities[] = {{"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}};
    size_t i = text.find_first_of("&\\");
    if (i == std::string::npos) return;
    std::string out(text, 0, i);
    const size_t n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == '\\' && i + 1 < n) {
            char e = text[i + 1];
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
            i += 2;
            continue;
        }
        if (c == '&') {
            bool matched = false;
            for (const auto& [entity, character] : kEntities) {
                if (text.compare(i, entity.size(), entity) == 0) {
                    out += character;
                    i += entity.size();
                    matched = true;
                    break;
                }
            }
            if (matched) continue;
        }
        out += c;
        ++i;
    }
    text = std::move(out);
}

void appendJsonEscaped(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text, start, i - start);
        start = i + 1;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 15];
        }
    }
    out.append(text, start, text.size() - start);
}

size_t firstNonXmlCharacter(std::string_view text) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* p = begin;
    const auto* end = p + text.size();
    const auto at = [&] { return static_cast<size_t>(p - begin); };
    while (p < end) {
        unsigned c = *p;
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return at();
            ++p;
            continue;
        }
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        if (extra < 0 || c > 0xF4 || end - p <= extra) return at();
        unsigned cp = c & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return at();
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        static const unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
            cp == 0xFFFF)
            return at();
        p += extra + 1;
    }
    return std::string_view::npos;
}

bool isXmlCharacterData(std::string_view text) {
    return firstNonXmlCharacter(text) == std::string_view::npos;
}

void appendInt(std::string& out, int64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

void appendFixed6(std::string& out, double value) {
    char buf[400];  // enough for any double in fixed notation
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    out.append(buf, res.ptr);
}

namespace {

// White space as strtol reads it in the "C" locale.
const char* skipSpace(const char* p) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    return p;
}

}  // namespace

int64_t parseIntPrefix(const char* text) {
    const char* p = skipSpace(text);
    bool negative = *p == '-';
    if (negative || *p == '+') ++p;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        int digit = *p - '0';
        if (value > (kMax - digit) / 10) return negative ? std::numeric_limits<int64_t>::min() : kMax;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

double parseDoublePrefix(const char* text) {
    // strtod's own rules (hex, infinity, overflow), but always with the "C" decimal point.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    return strtod_l(text, nullptr, cLocale);
}

}  // namespace dk::tables
