#include "kiosk/KSStringUtil.h"

#include <cstdio>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/UTF8.h"
#include "platform/sys/Uuid.h"

namespace utf8 = plat::foundation::utf8;

namespace {

constexpr char kUpperHex[] = "0123456789ABCDEF";

bool isAlphanumeric(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool strictKeeps(unsigned char c) {
    return isAlphanumeric(c) || c == '-' || c == '_' || c == '.' || c == '~';
}

bool lenientKeeps(unsigned char c) {
    static constexpr std::string_view kMarksAndReserved = "-_.!~*'();/?:@&=+$,";
    return isAlphanumeric(c) || (c != 0 && kMarksAndReserved.find(static_cast<char>(c)) != std::string_view::npos);
}

template <typename Keeps>
std::string percentEncode(std::string_view text, Keeps keeps) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (keeps(c)) {
            out += ch;
        } else {
            out += '%';
            out += kUpperHex[c >> 4];
            out += kUpperHex[c & 15];
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!utf8::valid(out)) return std::nullopt;
    return out;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

std::string writeQuery(const KSJsonObject& query, bool quirky) {
    std::string out;
    for (const auto& [key, value] : query) {
        if (!out.empty()) out += '&';
        out += key;
        out += '=';
        if (!quirky && value.isNull()) continue;
        out += KSStringUtil::stringByUrlEncodingString(kiosk::agnosticText(&value));
    }
    return out;
}

// Code points of UTF-8 text as UTF-16 code units; a byte that starts no valid sequence stands for
// U+FFFD.
std::u16string utf16(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t length = utf8::decode(bytes + i, text.size() - i, &cp);
        if (length == 0) {
            units += u'\uFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(cp);
        }
        i += length;
    }
    return units;
}

struct HtmlEntity {
    char16_t unit;
    const char* text;
};

// Sorted by code unit, for the bisection.
constexpr HtmlEntity kHtmlEntities[] = {
    {34, "&quot;"},    {38, "&amp;"},     {39, "&apos;"},    {60, "&lt;"},      {62, "&gt;"},
    {338, "&OElig;"},  {339, "&oelig;"},  {352, "&Scaron;"}, {353, "&scaron;"}, {376, "&Yuml;"},
    {710, "&circ;"},   {732, "&tilde;"},  {8194, "&ensp;"},  {8195, "&emsp;"},  {8201, "&thinsp;"},
    {8204, "&zwnj;"},  {8205, "&zwj;"},   {8206, "&lrm;"},   {8207, "&rlm;"},   {8211, "&ndash;"},
    {8212, "&mdash;"}, {8216, "&lsquo;"}, {8217, "&rsquo;"}, {8218, "&sbquo;"}, {8220, "&ldquo;"},
    {8221, "&rdquo;"}, {8222, "&bdquo;"}, {8224, "&dagger;"}, {8225, "&Dagger;"}, {8240, "&permil;"},
    {8249, "&lsaquo;"}, {8250, "&rsaquo;"}, {8364, "&euro;"},
};

const char* htmlEntity(char16_t unit) {
    std::size_t low = 0, high = std::size(kHtmlEntities);
    while (low < high) {
        std::size_t mid = (low + high) / 2;
        if (kHtmlEntities[mid].unit == unit) return kHtmlEntities[mid].text;
        if (kHtmlEntities[mid].unit < unit)
            low = mid + 1;
        else
            high = mid;
    }
    return nullptr;
}

}  // namespace

KSStringUtil::Bytes KSStringUtil::dataDigestForString(std::string_view text) {
    return plat::crypto::sha1(text).value_or(Bytes());
}

std::string KSStringUtil::base64EncodedStringForData(const void* data, std::size_t size) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const auto* in = static_cast<const std::uint8_t*>(data);
    std::string out;
    out.reserve((8 * size + 5) / 6);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        std::uint32_t group = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(group >> shift) & 63];
    }
    if (size - i == 1) {
        out += kAlphabet[in[i] >> 2];
        out += kAlphabet[(in[i] & 3) << 4];
    } else if (size - i == 2) {
        out += kAlphabet[in[i] >> 2];
        out += kAlphabet[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        out += kAlphabet[(in[i + 1] & 15) << 2];
    }
    return out;
}

std::string KSStringUtil::hexEncodedStringForData(const Bytes& data) {
    return plat::crypto::hex(data);
}

std::string KSStringUtil::hexDigestForString(std::string_view text) {
    return hexEncodedStringForData(dataDigestForString(text));
}

std::string KSStringUtil::b64DigestForString(std::string_view text) {
    return base64EncodedStringForData(dataDigestForString(text));
}

std::string KSStringUtil::uuid(const std::function<std::string()>& source) {
    return b64DigestForString(source ? source() : plat::sys::newUUIDString());
}

std::string KSStringUtil::stringByUrlEncodingString(std::string_view text) {
    return percentEncode(text, strictKeeps);
}

std::optional<std::string> KSStringUtil::stringByUrlDecodingString(std::string_view text) {
    return percentDecode(text);
}

std::string KSStringUtil::stringWithQuery(const KSJsonObject& query) {
    return writeQuery(query, false);
}

std::string KSStringUtil::stringWithQueryQuirky(const KSJsonObject& query) {
    return writeQuery(query, true);
}

KSJsonObject KSStringUtil::dictionaryWithQueryString(std::optional<std::string_view> text) {
    KSJsonObject query;
    if (!text) return query;
    std::string_view rest = *text;
    while (!rest.empty()) {
        std::size_t start = rest.find_first_not_of("&;");
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        std::size_t end = rest.find_first_of("&;");
        std::vector<std::string_view> parts = split(rest.substr(0, end), '=');
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        if (parts.size() != 2) continue;
        query.set(stringByUrlDecodingString(parts[0]).value_or(std::string(parts[0])),
                  stringByUrlDecodingString(parts[1]).value_or(std::string(parts[1])));
    }
    return query;
}

std::string KSStringUtil::stringByHtmlEscapingString(std::string_view text) {
    if (text.empty()) return std::string(text);
    std::u16string units = utf16(text);
    // The one scratch buffer; each run of plain ASCII goes in with one append.
    std::string out;
    out.reserve(2 * text.size());
    std::size_t run = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        const char* entity = htmlEntity(unit);
        if (!entity && unit < 128) continue;
        out.append(units.begin() + static_cast<std::ptrdiff_t>(run), units.begin() + static_cast<std::ptrdiff_t>(i));
        char32_t cp = unit;
        if (utf8::isHighSurrogate(unit) && i + 1 < units.size() && utf8::isLowSurrogate(units[i + 1])) {
            // A pair is one character: one reference to its code point.
            cp = utf8::fromSurrogates(unit, units[++i]);
        }
        char buffer[16];
        if (!entity) {
            std::snprintf(buffer, sizeof buffer, "&#%u;", static_cast<unsigned>(cp));
            entity = buffer;
        }
        out += entity;
        run = i + 1;
    }
    out.append(units.begin() + static_cast<std::ptrdiff_t>(run), units.end());
    return out;
}

namespace kiosk {

std::string stringByEncodingURLFormat(std::string_view text) {
    std::string plus(text);
    for (char& c : plus)
        if (c == ' ') c = '+';
    return percentEncode(plus, lenientKeeps);
}

std::optional<std::string> stringByDecodingURLFormat(std::string_view text) {
    std::string blanks(text);
    for (char& c : blanks)
        if (c == '+') c = ' ';
    return percentDecode(blanks);
}

KSJsonObject dictionaryFromQueryComponents(std::string_view text) {
    KSJsonObject query;
    for (std::string_view piece : split(text, '&')) {
        std::vector<std::string_view> parts = split(piece, '=');
        if (parts.size() < 2) continue;
        std::string key = stringByDecodingURLFormat(parts[0]).value_or(std::string(parts[0]));
        std::string value = stringByDecodingURLFormat(parts[1]).value_or(std::string(parts[1]));
        KSJsonValue* existing = query.find(key);
        if (!existing) {
            query.set(std::move(key), std::move(value));
        } else if (KSJsonArray* values = existing->array()) {
            values->push_back(std::move(value));
        } else {
            *existing = KSJsonArray{std::move(*existing), std::move(value)};
        }
    }
    return query;
}

KSJsonObject queryComponents(std::string_view url) {
    std::size_t question = url.find('?');
    if (question == std::string_view::npos) return KSJsonObject();
    std::string_view query = url.substr(question + 1);
    return dictionaryFromQueryComponents(query.substr(0, query.find('#')));
}

std::optional<std::string> stringFromQueryComponents(const KSJsonObject& query) {
    if (query.empty()) return std::nullopt;
    std::string out;
    for (const auto& [key, value] : query) {
        std::string keyText = stringByEncodingURLFormat(key);
        auto pair = [&](const KSJsonValue& element) {
            if (!out.empty()) out += '&';
            out += keyText;
            out += '=';
            out += stringByEncodingURLFormat(agnosticText(&element));
        };
        if (const KSJsonArray* values = value.array())
            for (const KSJsonValue& element : *values) pair(element);
        else
            pair(value);
    }
    return out;
}

}  // namespace kiosk
