#include "platform/foundation/UTF8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace utf8 = plat::foundation::utf8;

namespace {

struct Sequence {
    const char* what;
    std::string bytes;
    size_t length;  // of the sequence at the start; 0 when none is well-formed
    char32_t cp;
};

const std::vector<Sequence>& sequences() {
    static const std::vector<Sequence> cases = {
        {"ASCII", "A", 1, U'A'},
        {"NUL", std::string(1, '\0'), 1, 0},
        {"two bytes, lowest", "\xC2\x80", 2, 0x80},
        {"two bytes, highest", "\xDF\xBF", 2, 0x7FF},
        {"three bytes, lowest", "\xE0\xA0\x80", 3, 0x800},
        {"last before the surrogates", "\xED\x9F\xBF", 3, 0xD7FF},
        {"first after the surrogates", "\xEE\x80\x80", 3, 0xE000},
        {"noncharacter U+FFFE", "\xEF\xBF\xBE", 3, 0xFFFE},
        {"four bytes, lowest", "\xF0\x90\x80\x80", 4, 0x10000},
        {"highest code point", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"overlong NUL", "\xC0\x80", 0, 0},
        {"overlong two bytes", "\xC1\xBF", 0, 0},
        {"overlong three bytes", "\xE0\x9F\xBF", 0, 0},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", 0, 0},
        {"high surrogate", "\xED\xA0\x80", 0, 0},
        {"low surrogate", "\xED\xBF\xBF", 0, 0},
        {"just above U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
        {"lead byte F5", "\xF5\x80\x80\x80", 0, 0},
        {"lead byte FF", "\xFF", 0, 0},
        {"five-byte form", "\xF8\x88\x80\x80\x80", 0, 0},
        {"lone continuation byte", "\x80", 0, 0},
        {"two bytes cut short", "\xC3", 0, 0},
        {"three bytes cut short", "\xE2\x82", 0, 0},
        {"four bytes cut short", "\xF0\x9F\x98", 0, 0},
        {"continuation missing", "\xE2\x41\x82", 0, 0},
        {"last continuation missing", "\xF0\x9F\x98\x41", 0, 0},
    };
    return cases;
}

const unsigned char* bytesOf(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(UTF8, DecodesEachWellFormedSequenceAndRefusesTheRest) {
    for (const Sequence& c : sequences()) {
        SCOPED_TRACE(c.what);
        char32_t cp = U'?';
        EXPECT_EQ(utf8::decode(bytesOf(c.bytes), c.bytes.size(), &cp), c.length);
        EXPECT_EQ(cp, c.length ? c.cp : U'?');
        const bool wellFormed = c.length == c.bytes.size();
        EXPECT_EQ(utf8::valid(c.bytes), wellFormed);
        EXPECT_EQ(utf8::valid("ok " + c.bytes + " ok"), wellFormed);
    }
}

TEST(UTF8, DecodeReadsNoFurtherThanItIsAllowed) {
    const std::string euro = "\xE2\x82\xAC";
    char32_t cp;
    EXPECT_EQ(utf8::decode(bytesOf(euro), 0, &cp), 0u);
    EXPECT_EQ(utf8::decode(bytesOf(euro), 2, &cp), 0u);
    EXPECT_EQ(utf8::decode(bytesOf(euro), 3, &cp), 3u);
    EXPECT_EQ(cp, 0x20ACu);
    const std::string followed = "\xC3\xA9\xFF";
    EXPECT_EQ(utf8::decode(bytesOf(followed), followed.size(), &cp), 2u);
    EXPECT_EQ(cp, 0xE9u);
    EXPECT_TRUE(utf8::valid(""));
}

TEST(UTF8, AppendWritesWhatDecodeReads) {
    for (const char32_t cp : {0x0u, 0x41u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xD7FFu, 0xE000u, 0xFFFDu, 0xFFFFu,
                              0x10000u, 0x1F600u, 0x10FFFFu}) {
        SCOPED_TRACE(static_cast<unsigned>(cp));
        std::string out = "x";
        utf8::append(out, cp);
        char32_t back = 0;
        ASSERT_EQ(utf8::decode(bytesOf(out) + 1, out.size() - 1, &back), out.size() - 1);
        EXPECT_EQ(back, cp);
    }
    std::string surrogate;
    utf8::append(surrogate, 0xD800);
    EXPECT_EQ(surrogate, "\xED\xA0\x80");
    EXPECT_FALSE(utf8::valid(surrogate));
}

TEST(UTF8, ReplacesEachBadByteOnceAndKeepsTheRest) {
    struct Case {
        std::string in, out;
        size_t replaced;
    };
    const std::vector<Case> cases = {
        {"", "", 0},
        {"caf\xC3\xA9", "caf\xC3\xA9", 0},
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b", 1},
        {"\xC0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD", 2},                        // overlong: both bytes
        {"\xED\xA0\x80!", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!", 3},      // surrogate: all three
        {"x\xE2\x82", "x\xEF\xBF\xBD\xEF\xBF\xBD", 2},                      // cut short at the end
        {"\xE2\x82\xE2\x82\xAC", "\xEF\xBF\xBD\xEF\xBF\xBD\xE2\x82\xAC", 2},  // the next one survives
        {std::string("a\0b", 3), std::string("a\0b", 3), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        size_t replaced = 99;
        EXPECT_EQ(utf8::replaceInvalid(c.in, utf8::Nul::Keep, &replaced), c.out);
        EXPECT_EQ(replaced, c.replaced);
        EXPECT_TRUE(utf8::valid(utf8::replaceInvalid(c.in)));
    }
}

TEST(UTF8, ReplacesNulOnlyWhenAsked) {
    const std::string text("a\0\xFF", 3);
    size_t replaced = 0;
    EXPECT_EQ(utf8::replaceInvalid(text, utf8::Nul::Replace, &replaced), "a\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(replaced, 2u);
    EXPECT_EQ(utf8::replaceInvalid(text), std::string("a\0\xEF\xBF\xBD", 5));
}

TEST(UTF8, PairsSurrogates) {
    EXPECT_TRUE(utf8::isHighSurrogate(0xD800));
    EXPECT_TRUE(utf8::isHighSurrogate(0xDBFF));
    EXPECT_FALSE(utf8::isHighSurrogate(0xDC00));
    EXPECT_TRUE(utf8::isLowSurrogate(0xDFFF));
    EXPECT_FALSE(utf8::isLowSurrogate(0xE000));
    EXPECT_EQ(utf8::fromSurrogates(0xD83D, 0xDE00), 0x1F600u);
    EXPECT_EQ(utf8::fromSurrogates(0xDBFF, 0xDFFF), 0x10FFFFu);
}

}  // namespace
