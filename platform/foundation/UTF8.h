// UTF-8 as the player and its clients read and write it. Well-formed means: no stray or missing
// continuation bytes, no overlong forms, no UTF-16 surrogates (U+D800-U+DFFF), nothing above
// U+10FFFF, no sequence cut short by the end of the text. NUL and the noncharacters (U+FFFE, ...)
// are well-formed; a caller that refuses them says so itself. Byte pointers are unsigned so that
// network data and std::string text go through the same code.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat::foundation::utf8 {

// The length (1 to 4) of the well-formed sequence that starts `n` bytes at `p`, with its code point
// in `*cp`; 0 when none starts there (`*cp` is then left alone), and 0 for n == 0.
size_t decode(const unsigned char* p, size_t n, char32_t* cp);

// Whether the whole text is well-formed.
bool valid(const unsigned char* p, size_t n);
inline bool valid(std::string_view text) {
    return valid(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Appends `cp` in one to four bytes. It must be a code point (at most U+10FFFF); a surrogate is
// written as its three bytes, which valid() then refuses.
void append(std::string& out, char32_t cp);

// What replaceInvalid does with a NUL byte.
enum class Nul { Keep, Replace };

// The text with each byte that starts no well-formed sequence (and, with Nul::Replace, each NUL)
// as U+FFFD, one per byte, so that what follows a bad byte is neither lost nor swallowed.
// `replaced`, when given, receives how many bytes were replaced.
std::string replaceInvalid(std::string_view text, Nul nul = Nul::Keep, size_t* replaced = nullptr);
inline std::string replaceInvalid(const unsigned char* p, size_t n) {
    return replaceInvalid(std::string_view(reinterpret_cast<const char*>(p), n));
}

// Pairing UTF-16 units.
constexpr bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr char32_t fromSurrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

}  // namespace plat::foundation::utf8
