// UTF-8 reading and writing shared by the client's JSON and helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orbad::utf8 {

// The length of the well-formed UTF-8 sequence at `p` (at most `n` bytes), with its code point in
// `cp`; 0 when the bytes there are not UTF-8 (overlong forms and surrogates included).
inline size_t decode(const uint8_t* p, size_t n, char32_t* cp) {
    if (n == 0) return 0;
    const uint8_t b = p[0];
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    size_t len;
    char32_t c, min;
    if ((b & 0xE0) == 0xC0)
        len = 2, c = b & 0x1F, min = 0x80;
    else if ((b & 0xF0) == 0xE0)
        len = 3, c = b & 0x0F, min = 0x800;
    else if ((b & 0xF8) == 0xF0)
        len = 4, c = b & 0x07, min = 0x10000;
    else
        return 0;
    if (n < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        c = c << 6 | (p[i] & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return len;
}

// Whether all `n` bytes at `p` are UTF-8.
inline bool valid(const uint8_t* p, size_t n) {
    size_t i = 0;
    char32_t cp;
    while (i < n) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const size_t len = decode(p + i, n - i, &cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}
inline bool valid(const std::string& s) {
    return valid(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

inline void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The bytes with every ill-formed sequence replaced by U+FFFD.
inline std::string lossy(const uint8_t* p, size_t n) {
    std::string out;
    out.reserve(n);
    size_t i = 0;
    char32_t cp;
    while (i < n) {
        const size_t len = decode(p + i, n - i, &cp);
        if (len == 0) {
            append(out, 0xFFFD);
            ++i;
        } else {
            out.append(reinterpret_cast<const char*>(p + i), len);
            i += len;
        }
    }
    return out;
}

}  // namespace orbad::utf8
