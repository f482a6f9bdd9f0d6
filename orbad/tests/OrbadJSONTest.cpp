// The ad client's JSON: the reader's quirks and codes, encodings, error details, and a writer whose
// every output a strict parser (yajl) accepts.
#include <gtest/gtest.h>
#include <yajl/yajl_tree.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>

#include "orbad/core/OrbadJSON.h"
#include "platform/foundation/UTF8.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

using orbad::Data;
using orbad::Error;
using orbad::OrbadJSON;
using orbad::Value;

enum class Mode { Facade, Deserializer, Strict };

Data bytes(std::string_view text) {
    return Data(text.begin(), text.end());
}

// What a reading gives: the value as the client re-writes it, NIL, or "ERROR code".
std::string read(std::string_view text, Mode mode = Mode::Facade) {
    Error error;
    std::optional<Value> value;
    if (mode == Mode::Facade) {
        value = OrbadJSON::decodeData(text, &error);
    } else {
        orbad::OrbadJSONDeserializer deserializer;
        deserializer.scanner().setStrictEscapeCodes(mode == Mode::Strict);
        value = deserializer.deserialize(bytes(text), &error);
    }
    if (!error.domain.empty()) return "ERROR " + std::to_string(error.code);
    return value ? *OrbadJSON::encodeObject(*value) : "NIL";
}

struct ReadCase {
    const char* name;
    std::string_view input;
    Mode mode;
    const char* expected;
};

class Reading : public ::testing::TestWithParam<ReadCase> {};

TEST_P(Reading, GivesTheClientsValueOrCode) {
    EXPECT_EQ(read(GetParam().input, GetParam().mode), GetParam().expected) << GetParam().input;
}

using namespace std::string_view_literals;

INSTANTIATE_TEST_SUITE_P(
    JSON, Reading,
    ::testing::Values(ReadCase{"NullsDroppedByFacade", R"({"a":null,"b":[1,null,2]})", Mode::Facade,
                               R"({"b":[1,2]})"},
                      ReadCase{"NullsKeptByDeserializer", R"({"a":null,"b":[1,null,2]})", Mode::Deserializer,
                               R"({"a":null,"b":[1,null,2]})"},
                      ReadCase{"TrailingCommas", R"({"a":[1,2,],})", Mode::Facade, R"({"a":[1,2]})"},
                      ReadCase{"ElementsWithoutComma", "[1 2]", Mode::Facade, "ERROR -10"},
                      ReadCase{"KeyWithoutColon", R"({"a" 1})", Mode::Facade, "ERROR -3"},
                      ReadCase{"PairsWithoutComma", R"({"a":1 "b":2})", Mode::Facade, "ERROR -5"},
                      ReadCase{"KeyNotAString", "{1:2}", Mode::Facade, "ERROR -2"},
                      ReadCase{"UnclosedArray", "[1,", Mode::Facade, "ERROR -8"},
                      ReadCase{"UnicodeEscape", R"(["\u00e9"])", Mode::Facade, "[\"\xC3\xA9\"]"},
                      ReadCase{"BadHexDigit", R"("\u12g4")", Mode::Facade, "ERROR -12"},
                      ReadCase{"UnknownEscapeLenient", R"("\q")", Mode::Deserializer, R"("q")"},
                      ReadCase{"UnknownEscapeStrict", R"("\q")", Mode::Strict, "ERROR -13"},
                      ReadCase{"SingleQuotes", "'a'", Mode::Facade, "ERROR -11"},
                      ReadCase{"Unterminated", "\"abc", Mode::Facade, "ERROR -14"},
                      ReadCase{"ExponentWithPlus", "[1e+5]", Mode::Facade, "ERROR -10"},
                      ReadCase{"ExponentNumber", "1e5", Mode::Facade, "100000"},
                      ReadCase{"LongestValidPrefix", "[1.5.3,-]", Mode::Facade, "[1.5,0]"},
                      ReadCase{"MisspeltInArray", "[true, nul]", Mode::Facade, "ERROR -10"},
                      ReadCase{"MisspeltInArrayWithNull", "[true, nul]", Mode::Deserializer, "ERROR -9"},
                      ReadCase{"MisspeltAlone", "nul", Mode::Facade, "NIL"},
                      ReadCase{"NullAloneThroughFacade", "null", Mode::Facade, "NIL"},
                      ReadCase{"TrailingBytesIgnored", "[1] }garbage", Mode::Facade, "[1]"},
                      ReadCase{"VerticalTabAndFormFeed", "\v\f[\v1\f]", Mode::Facade, "[1]"},
                      ReadCase{"NotJSON", "@", Mode::Facade, "ERROR -1"},
                      ReadCase{"Empty", "", Mode::Facade, "ERROR -1"},
                      ReadCase{"EmptyThroughDeserializer", "", Mode::Deserializer, "ERROR -1"},
                      ReadCase{"OutermostCodeReported", R"({"a":[1 2]})", Mode::Facade, "ERROR -4"},
                      ReadCase{"InvalidUTF8", "[\"a\xFF\"]", Mode::Facade, "ERROR -8"},
                      ReadCase{"InvalidUTF8Alone", "\"a\xC3(\"", Mode::Facade, "ERROR -12"},
                      ReadCase{"SurrogatePair", R"("\ud83d\ude00")", Mode::Facade, "\"\xF0\x9F\x98\x80\""},
                      ReadCase{"LoneHighSurrogate", R"("\ud800x")", Mode::Facade, "\"\xEF\xBF\xBDx\""},
                      ReadCase{"LoneLowSurrogate", R"("\udc00")", Mode::Facade, "\"\xEF\xBF\xBD\""},
                      ReadCase{"EscapedNonASCII", "\"\\\xC3\xA9!\"", Mode::Facade, "\"\xC3\xA9!\""},
                      ReadCase{"EscapedInvalidByte", "\"\\\xC3\"", Mode::Facade, "ERROR -12"},
                      ReadCase{"BackslashAtEnd", "\"ab\\", Mode::Facade, "ERROR -14"},
                      ReadCase{"ShortUnicodeEscape", "\"\\u12", Mode::Facade, "ERROR -12"},
                      ReadCase{"LaterKeyWins", R"({"a":1,"a":2})", Mode::Facade, R"({"a":2})"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JSONReading, NestingBeyondTheLimitFailsWithoutExhaustingTheStack) {
    for (size_t depth : {size_t{512}, size_t{513}, size_t{200000}}) {
        std::string text = std::string(depth, '[') + std::string(depth, ']');
        Error error;
        std::optional<Value> value = OrbadJSON::decodeData(text, &error);
        EXPECT_EQ(value.has_value(), depth <= 512) << depth;
        if (depth > 512) {
            EXPECT_EQ(error.code, -1);
            EXPECT_NE(error.message.find("nested deeper than 512"), std::string::npos);
        }
    }
    std::string mixed;
    for (int i = 0; i < 300; ++i) mixed += "{\"a\":[";
    EXPECT_EQ(read(mixed), "ERROR -1");
}

// A document in UTF-16/32 of either order reads as its UTF-8 form; text that does not convert fails.
TEST(JSONReading, WideEncodingsAreConvertedOnce) {
    const std::u32string text = U"{\"k\":[\"\u00e9\U0001F600\",1]}";
    auto encode = [&](int unit, bool bigEndian) {
        Data out;
        for (char32_t c : text) {
            std::vector<uint32_t> units;
            if (unit == 2 && c > 0xFFFF)
                units = {0xD800 + ((c - 0x10000) >> 10), 0xDC00 + ((c - 0x10000) & 0x3FF)};
            else
                units = {c};
            for (uint32_t u : units)
                for (int i = 0; i < unit; ++i)
                    out.push_back(static_cast<uint8_t>(u >> 8 * (bigEndian ? unit - 1 - i : i)));
        }
        return out;
    };
    for (int unit : {2, 4})
        for (bool bigEndian : {false, true}) {
            std::optional<Value> value = OrbadJSON::decodeData(encode(unit, bigEndian));
            ASSERT_TRUE(value) << unit << bigEndian;
            EXPECT_EQ(*OrbadJSON::encodeObject(*value), "{\"k\":[\"\xC3\xA9\xF0\x9F\x98\x80\",1]}");
        }
    const Data loneSurrogate = {'[', 0, '1', 0, ',', 0, 0x00, 0xD8, ']', 0};
    Error error;
    EXPECT_FALSE(OrbadJSON::decodeData(loneSurrogate, &error));
    EXPECT_EQ(error.code, -1);
}

// Lines count CR and LF bytes (CR LF is two); the column is measured from the byte before the break.
TEST(JSONReading, ErrorsCarryWhereTheyHappened) {
    Error error;
    EXPECT_FALSE(OrbadJSON::decodeData("[1,\r\n\r\n  x]"sv, &error));
    EXPECT_EQ(error.domain, "OrbadJSONScannerErrorDomain");
    EXPECT_EQ(error.message, "Could not scan array. Could not scan a value.");
    EXPECT_EQ(error.userInfo.canonicalJSON(),
              R"({"NSLocalizedDescription":"Could not scan array. Could not scan a value.",)"
              R"("character":4,"line":4,"location":9,"snippet":"[1,\r\n\r\n  !HERE>!x]"})");
    orbad::OrbadJSONDeserializer deserializer;
    EXPECT_FALSE(deserializer.deserializeAsDictionary(bytes(" {}"), &error));
    EXPECT_EQ(error.code, -1);
    EXPECT_TRUE(deserializer.deserializeAsArray(bytes(" []"), &error));
}

TEST(JSONWriting, WritesTheClientsForms) {
    const struct {
        Value value;
        const char* json;
    } cases[] = {
        {Value(true), "true"},
        {Value(1), "1"},
        {Value(0.5), "0.5"},
        {Value(3.0), "3"},
        {Value(1e20), "1e+20"},
        {Value(0.1 + 0.2), "0.3"},
        {Value(std::nan("")), "null"},
        {Value(-HUGE_VAL), "null"},
        {Value("tab\t/slash"), R"("tab\t\/slash")"},
        {Value(std::string("nul\0\x1f\x7f", 6)), "\"nul\\u0000\\u001f\x7f\""},
        {Value("\xE2\x80\xA8\xE2\x80\xA9"), R"("\u2028\u2029")"},
        {Value("bad\xFF"), "\"bad\xEF\xBF\xBD\""},
        {Value(Data{'h', 'i'}), R"("hi")"},
    };
    for (const auto& c : cases) EXPECT_EQ(OrbadJSON::encodeObject(c.value), c.json) << c.json;
    EXPECT_FALSE(OrbadJSON::encodeObject(Value(Data{0xFF})));
    Error error;
    EXPECT_FALSE(orbad::OrbadJSONSerializer().serializeObject(Value(plat::foundation::Date{0}), &error));
    EXPECT_EQ(error.message, "Cannot serialize data of type 'NSDate'");
}

// Random documents with controls, NUL, non-ASCII and doubles: yajl reads back what was written.
TEST(JSONWriting, GeneratedDocumentsAreStrictJSON) {
    std::mt19937 random(7);
    auto text = [&] {
        static const char32_t pool[] = {0,    1,   8,   9,    10,   13,     0x1f,   '"',
                                        '\\', '/', 'a', 0x7f, 0xe9, 0x2028, 0x2029, 0x1F600};
        std::string s;
        for (int n = random() % 12; n-- > 0;)
            plat::foundation::utf8::append(s, pool[random() % std::size(pool)]);
        return s;
    };
    for (int round = 0; round < 200; ++round) {
        Value::Array array;
        for (int i = 0; i < 8; ++i) {
            array.emplace_back(text());
            array.emplace_back(std::ldexp(static_cast<double>(static_cast<int32_t>(random())),
                                          static_cast<int>(random() % 80) - 40));
        }
        const std::string json = *OrbadJSON::encodeObject(Value(array));
        EXPECT_EQ(json.find("\xE2\x80\xA8"), std::string::npos);
        char why[256] = "";
        yajl_val tree = yajl_tree_parse(json.c_str(), why, sizeof why);
        // yajl stops at a NUL in its input, but the writer never leaves one raw.
        ASSERT_TRUE(tree) << why << "\n" << json;
        ASSERT_EQ(tree->u.array.len, array.size());
        for (size_t i = 0; i < array.size(); ++i) {
            yajl_val element = tree->u.array.values[i];
            if (const std::string* s = array[i].string()) {
                // yajl hands strings out NUL-terminated: compare up to the first NUL.
                EXPECT_EQ(std::string(YAJL_GET_STRING(element)), std::string(s->c_str())) << json;
            } else {
                EXPECT_NEAR(YAJL_GET_DOUBLE(element), array[i].doubleValue(),
                            std::fabs(array[i].doubleValue()) * 1e-15);
            }
        }
        yajl_tree_free(tree);
        // The client reads its own text back, save exponents with "+", which its reader stops at.
        if (json.find("e+") == std::string::npos) {
            EXPECT_EQ(OrbadJSON::encodeObject(*OrbadJSON::decodeData(json)), json);
        }
    }
}

TEST(JSONWriting, DatesInTheLocalZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const auto written =
        OrbadJSON::encodeObject(Value(plat::foundation::Date{1367402400}));         // 2013-05-01 10:00 UTC
    const auto winter = orbad::jsonDateString(plat::foundation::Date{1357041600});  // 2013-01-01 12:00 UTC
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    EXPECT_EQ(written, "\"2013-05-01T12:00:00+0200\"");
    EXPECT_EQ(winter, "2013-01-01T13:00:00+0100");
}

// Under a locale whose decimal separator is a comma, numbers still read and write with a point.
TEST(JSONLocale, ADecimalCommaLocaleChangesNothing) {
    TempDir dir;
    const std::string locales = dir.path() + "/locales";
    std::filesystem::create_directory(locales);
    const std::string cmd = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(locales + "/de_DE.UTF-8"))
        GTEST_SKIP() << "no localedef";
    setenv("LOCPATH", locales.c_str(), 1);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "comma locale unavailable";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    const std::string readBack = read("[0.5,2.25e1]");
    const std::string description = orbad::numberDescription(Value(0.5));
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    ASSERT_STREQ(probe, "0,5");
    EXPECT_EQ(readBack, "[0.5,22.5]");
    EXPECT_EQ(description, "0.5");
}

// The scanner's comment operations, which JSON itself never uses.
TEST(DataScanner, CommentsAndBacktracking) {
    const struct {
        const char* input;
        bool cStyle;
        bool ok;
        const char* textOrReason;
        size_t after;
    } cases[] = {
        {"// note\r\n\nnext", false, true, " note", 10},
        {"// to the end", false, true, " to the end", 13},
        {"/* body */x", true, true, " body ", 10},
        {"/* open", true, false, "Started to scan a C style comment but it wasn't terminated.", 0},
        {"/* a /* b */", true, false, "C style comments should not be nested.", 0},
    };
    for (const auto& c : cases) {
        orbad::OrbadDataScanner scanner(bytes(c.input));
        std::string text, reason;
        const bool ok = c.cStyle ? scanner.obScanCStyleComment(&text, &reason)
                                 : scanner.obScanCPlusPlusStyleComment(&text, &reason);
        EXPECT_EQ(ok, c.ok) << c.input;
        EXPECT_EQ(ok ? text : reason, c.textOrReason);
        EXPECT_EQ(scanner.scanLocation(), c.after) << c.input;
    }
    orbad::OrbadDataScanner scanner(bytes("abc"));
    scanner.setScanLocation(2);
    std::string reason;
    EXPECT_FALSE(scanner.obbacktrack(3, &reason));
    EXPECT_EQ(reason, "Backtracked too far.");
    EXPECT_TRUE(scanner.obbacktrack(2));
    EXPECT_EQ(scanner.scanLocation(), 0u);
}

}  // namespace
}  // namespace dktest
