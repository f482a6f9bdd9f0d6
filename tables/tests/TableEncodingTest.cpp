// Cell and name encodings of table files, and the number conversions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/TableUtil.h"

using namespace dk::tables;

namespace {

std::string xmlCell(const std::string& s) {
    std::string out;
    appendXmlCell(out, s);
    return out;
}

std::vector<std::string> cells(const std::string& text) {
    std::vector<std::string> out;
    forEachEncodedCell(text, [&](std::string&& c) { out.push_back(std::move(c)); });
    return out;
}

}  // namespace

// The common escapes are checked through the exact file texts (TableFilesTest); these are the rest.
TEST(TableEncoding, XmlCellEscapesBeyondTheFileTests) {
    EXPECT_EQ(xmlCell("it's >"), "it&apos;s &gt;");
    EXPECT_EQ(xmlCell("l1\nl2\r\tx"), "l1\\nl2\\r\\tx");
}

TEST(TableEncoding, DecodingUndoesCellEscapes) {
    EXPECT_EQ(cells(""), (std::vector<std::string>{""}));
    EXPECT_EQ(cells("a,,b"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(cells("a,"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(cells("a\\,b,\\\\,\\n\\r\\t\\q"), (std::vector<std::string>{"a,b", "\\", "\n\r\tq"}));
    EXPECT_EQ(cells("end\\"), (std::vector<std::string>{"end\\"}));
}

TEST(TableEncoding, NumbersReadLikeTheCLibrary) {
    EXPECT_EQ(parseIntPrefix("  -7abc"), -7);
    EXPECT_EQ(parseIntPrefix("abc"), 0);
    EXPECT_EQ(parseIntPrefix("4294967295"), 4294967295LL);
    EXPECT_EQ(parseIntPrefix("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(parseIntPrefix("-99999999999999999999999"), INT64_MIN);
    EXPECT_DOUBLE_EQ(parseDoublePrefix(" 2.5e1x"), 25.0);
    std::string s;
    appendFixed6(s, 1.0);
    s += ' ';
    appendInt(s, -12);
    EXPECT_EQ(s, "1.000000 -12");
}

TEST(TableEncoding, XmlCharacterDataCheck) {
    EXPECT_TRUE(isXmlCharacterData("plain\ttext\r\n\x7f \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x90\x8E"));
    EXPECT_TRUE(isXmlCharacterData(""));
    EXPECT_FALSE(isXmlCharacterData("a\x01b"));
    EXPECT_FALSE(isXmlCharacterData(std::string("a\0b", 3)));
    EXPECT_FALSE(isXmlCharacterData("degree \xB0"));       // a lone continuation byte
    EXPECT_FALSE(isXmlCharacterData("\xC3"));              // cut short
    EXPECT_FALSE(isXmlCharacterData("\xC0\xAF"));          // overlong
    EXPECT_FALSE(isXmlCharacterData("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isXmlCharacterData("\xEF\xBF\xBE"));      // U+FFFE
    EXPECT_FALSE(isXmlCharacterData("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}
