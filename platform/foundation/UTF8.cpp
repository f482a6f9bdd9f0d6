#include "platform/foundation/UTF8.h"

namespace plat::foundation::utf8 {

size_t decode(const unsigned char* p, size_t n, char32_t* cp) {
    if (n == 0) return 0;
    const unsigned char c = p[0];
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    // The second byte's range rules out overlong forms, surrogates and what lies past U+10FFFF.
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    char32_t value;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2, value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3, value = c & 0x0F;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4, value = c & 0x07;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (n < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        value = value << 6 | (p[i] & 0x3F);
    }
    *cp = value;
    return length;
}

bool valid(const unsigned char* p, size_t n) {
    char32_t cp;
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const size_t length = decode(p + i, n - i, &cp);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

void append(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string replaceInvalid(std::string_view text, Nul nul, size_t* replaced) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    std::string out;
    out.reserve(n);
    size_t count = 0, kept = 0;  // bytes before `kept` are in `out`
    char32_t cp;
    for (size_t i = 0; i < n;) {
        const size_t length = decode(p + i, n - i, &cp);
        if (length && !(nul == Nul::Replace && p[i] == 0)) {
            i += length;
            continue;
        }
        out.append(text, kept, i - kept);
        out += "\xEF\xBF\xBD";
        ++count;
        kept = ++i;
    }
    out.append(text, kept);
    if (replaced) *replaced = count;
    return out;
}

}  // namespace plat::foundation::utf8
