// Cell encodings of table files and the number conversions, beyond what the exact file texts pin.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tables/TableUtil.h"

using namespace dk::tables;

namespace dktest {
namespace {

TEST(TableEncoding, CellEscapesNumbersAndXmlCharacterData) {
    std::string escaped;
    appendXmlCell(escaped, "it's >\n\r\t");
    EXPECT_EQ(escaped, "it&apos;s &gt;\\n\\r\\t");
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {""}},           {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},    {"a\\,b,\\\\,\\n\\r\\t\\q", {"a,b", "\\", "\n\r\tq"}},
        {"end\\", {"end\\"}},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<std::string> cells;
        forEachEncodedCell(text, [&](std::string&& c) { cells.push_back(std::move(c)); });
        EXPECT_EQ(cells, expected) << text;
    }
    // Numbers read like the C library's in the "C" locale, saturating.
    const std::vector<std::pair<const char*, int64_t>> ints = {{"  -7abc", -7},
                                                               {"abc", 0},
                                                               {"4294967295", 4294967295LL},
                                                               {"99999999999999999999999", INT64_MAX},
                                                               {"-99999999999999999999999", INT64_MIN}};
    for (const auto& [text, value] : ints) EXPECT_EQ(parseIntPrefix(text), value) << text;
    EXPECT_DOUBLE_EQ(parseDoublePrefix(" 2.5e1x"), 25.0);
    // What XML accepts as character data.
    EXPECT_TRUE(isXmlCharacterData("plain\ttext\r\n\x7f \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x90\x8E"));
    EXPECT_TRUE(isXmlCharacterData(""));
    // Control, NUL, lone continuation byte, cut short, overlong, surrogate, U+FFFE, beyond U+10FFFF.
    for (const std::string& bad : {std::string("a\x01"), std::string("a\0b", 3), std::string("\xB0"),
                                   std::string("\xC3"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
                                   std::string("\xEF\xBF\xBE"), std::string("\xF4\x90\x80\x80")})
        EXPECT_FALSE(isXmlCharacterData(bad)) << testing::PrintToString(bad);
}

}  // namespace
}  // namespace dktest
