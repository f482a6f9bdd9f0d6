#include "orbad/ads/OrbadRichMediaURLParser.h"

#include <strings.h>

#include <cstdio>

namespace orbad {

namespace {

constexpr size_t kNameStart = 10;  // "madview://"

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string OrbadRichMediaURLParser::extractFunctionCallFromURL(std::string_view url) {
    if (url.size() < kNameStart) return {};
    const size_t query = url.find('?');
    if (query == std::string_view::npos) return std::string(url.substr(kNameStart));
    if (query < kNameStart) return {};
    return std::string(url.substr(kNameStart, query - kNameStart));
}

std::map<std::string, std::string> OrbadRichMediaURLParser::extractParametersFromUrl(std::string_view url) {
    std::map<std::string, std::string> parameters;
    const size_t query = url.find('?');
    if (query == std::string_view::npos) return parameters;
    std::string_view rest = url.substr(query + 1);
    while (!rest.empty()) {
        const size_t equals = rest.find('=');
        if (equals == std::string_view::npos) break;
        const std::string_view name = rest.substr(0, equals);
        std::string_view value = rest.substr(equals + 1);
        const size_t amp = value.find('&');
        if (amp == std::string_view::npos) {
            rest = {};
        } else {
            rest = value.substr(amp + 1);
            value = value.substr(0, amp);
        }
        if (value.empty() || (value.size() == 4 && strncasecmp(value.data(), "null", 4) == 0)) continue;
        parameters.insert_or_assign(std::string(name), std::string(value));
    }
    return parameters;
}

std::optional<std::string> OrbadRichMediaURLParser::parameter(const std::map<std::string, std::string>& parameters,
                                                             const char* name) {
    const auto it = parameters.find(name);
    if (it == parameters.end()) return std::nullopt;
    return it->second;
}

std::string orbadJSQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '\\': out += "\\\\"; continue;
            case '\'': out += "\\'"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            default: break;
        }
        // U+2028 and U+2029 end a line inside a script literal too.
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            continue;
        }
        out += static_cast<char>(c);
    }
    return out;
}

std::string orbadPercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace orbad
