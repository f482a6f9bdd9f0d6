#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/Value.h"
#include "platform/foundation/tests/FoundationTestSupport.h"

namespace {

using plat::foundation::Data;
using plat::foundation::Date;
using plat::foundation::Value;

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Value, ConvertsAsThePlatformDoes) {
    struct Case {
        Value value;
        bool b;
        int64_t i;
        double d;
    } cases[] = {
        {"  +0007", true, 7, 7},
        {"\t-0y", true, 0, 0},  // blanks, sign and zeros skipped, then "y"
        {"00", false, 0, 0},
        {"0.5", false, 0, 0.5},  // "." after the zeros is not a truth
        {".5", false, 0, 0.5},
        {"YES", true, 0, 0},
        {"true", true, 0, 0},
        {"no", false, 0, 0},
        {"  12abc", true, 12, 12},
        {"-17.9e1x", true, -17, -179},
        {"1e", true, 1, 1},
        {"0x1A", false, 0, 0},  // decimal text only
        {"inf", false, 0, 0},
        {"1e400", true, 1, kInf},
        {"99999999999999999999", true, INT64_MAX, 1e20},
        {"-99999999999999999999", true, INT64_MIN, -1e20},
        {"abc", false, 0, 0},
        {"", false, 0, 0},
        {2.9, true, 2, 2.9},
        {-2.9, true, -2, -2.9},
        {1e300, true, INT64_MAX, 1e300},
        {-1e300, true, INT64_MIN, -1e300},
        {std::nan(""), true, 0, std::nan("")},
        {0.0, false, 0, 0},
        {int64_t(0), false, 0, 0},
        {-3, true, -3, -3},
        {true, true, 1, 1},
        {Value(), false, 0, 0},
        {Data{1}, false, 0, 0},
        {Date{5}, false, 0, 0},
        {Value::Array{1}, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.canonicalJSON());
        EXPECT_EQ(c.value.boolValue(), c.b);
        EXPECT_EQ(c.value.intValue(), c.i);
        if (std::isnan(c.d))
            EXPECT_TRUE(std::isnan(c.value.doubleValue()));
        else
            EXPECT_EQ(c.value.doubleValue(), c.d);
    }
}

TEST(Value, Describes) {
    const std::pair<Value, std::string> cases[] = {
        {"h\u00e9llo \"x\"", "h\u00e9llo \"x\""},
        {true, "1"},
        {false, "0"},
        {-42, "-42"},
        {0.1, "0.1"},
        {100.0, "100"},
        {Data{0x0a, 0x0b, 0x0c, 0x0d, 0x0e}, "<0a0b0c0d 0e>"},
        {Data{}, "<>"},
        {Date{-0.5}, "1969-12-31 23:59:59 +0000"},
        {Value(), "<null>"},
        {Value::Array{1, "a"}, "[1,\"a\"]"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(value.description(), text);
}

// Every kind is compared with plistlib's canonical text in PropertyListTest; here, the escapes,
// non-finite reals and null its fixtures lack.
TEST(Value, CanonicalJSONEscapesAndNonFiniteReals) {
    const Value odd = Value::Array{std::string("\x01\n\t\"\\/\x7f", 7), kInf, std::nan(""), -0.0, Value()};
    EXPECT_EQ(odd.canonicalJSON(), "[\"\\u0001\\n\\t\\\"\\\\/\x7f\",null,null,-0,null]");
}

TEST(Value, DatesAsText) {
    const std::pair<double, std::string> cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {-0.5, "1969-12-31T23:59:59Z"},  // rounded down, not towards zero
        {978307199.75, "2000-12-31T23:59:59Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {-2208988800, "1900-01-01T00:00:00Z"},
        {4107481200, "2100-02-28T07:00:00Z"},
        {1e300, "9999-12-31T23:59:59Z"},
        {-1e300, "0000-01-01T00:00:00Z"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(Date{seconds}.iso8601(), text);
        if (seconds == std::floor(seconds) && std::fabs(seconds) < 1e12) {
            EXPECT_EQ(Date::fromISO8601(text), Date{seconds}) << text;
        }
    }
    for (const char* bad : {"2001-02-29T00:00:00Z", "2000-13-01T00:00:00Z", "2000-01-01 00:00:00Z",
                            "2000-01-01T00:00:00", "2000-01-01T24:00:00Z", "20000-01-01T00:00:00Z"})
        EXPECT_FALSE(Date::fromISO8601(bad)) << bad;
}

TEST(Value, ReadsJSONBackFromItsCanonicalText) {
    const std::string text = dktest::everyKind().canonicalJSON();
    const std::optional<Value> read = Value::fromJSON(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->canonicalJSON(), text);

    const std::pair<const char*, Value> cases[] = {
        {" [1 , -0 , 9223372036854775807 ] ", Value::Array{1, 0, INT64_MAX}},
        {"9223372036854775808", 9223372036854775808.0},
        {"-9223372036854775809", -9223372036854775809.0},
        {"2.5e-3", 0.0025},
        {"1e400", kInf},
        {"1E-400", 0.0},
        {R"("\u00e9\ud83c\udfae\/\b\f")", "\u00e9\U0001F3AE/\b\f"},
        {R"({"b":1,"a":2,"b":3})", Value::Dictionary{{"a", 2}, {"b", 3}}},
        {R"({"data":"AAE="})", Data{0, 1}},
        {R"({"date":"2001-01-01T00:00:00Z"})", Date{978307200}},
        {R"({"date":"2001-01-01T00:00:00Z","x":1})",
         Value::Dictionary{{"date", "2001-01-01T00:00:00Z"}, {"x", 1}}},
    };
    for (const auto& [json, expected] : cases) EXPECT_EQ(Value::fromJSON(json), expected) << json;
}

TEST(Value, RefusesMalformedJSON) {
    const std::string deep(100000, '[');
    for (const std::string& bad : std::initializer_list<std::string>{"", "[1,]", R"({"a" 1})", "01", "1.", "-", R"("\ud800")", R"("\udc00x")", "tru",
                                  "[1] x", R"({"data":"!!"})", R"({"date":"yesterday"})", "\"a\nb\"", "[", deep}) {
        std::string error;
        EXPECT_FALSE(Value::fromJSON(bad, &error)) << bad.substr(0, 20);
        EXPECT_NE(error.find("at offset"), std::string::npos) << error;
    }
}

}  // namespace
