// The feed's reader: what a feed becomes (every value a text, maps flattened) and what fails it.
#include <gtest/gtest.h>

#include <string>

#include "player/plugins/promo/DKDrovikNetworkDataParser.h"

namespace {

std::optional<plat::foundation::Value> parse(const std::string& text) {
    return DKDrovikNetworkDataParser().decodeResponse(std::vector<std::uint8_t>(text.begin(), text.end()));
}

const std::string kFeed =
    R"({"ads":[{"name":"Tamble","iphone_url":"http://x/r","icon_url":"http://x/i.png"}],"throttle_pct":50})";

TEST(DrovikNetworkDataParser, FeedsBecomeFlatDictionariesOfTexts) {
    const struct {
        const char* name;
        std::string text;
        std::string json;
    } cases[] = {
        {"the feed's own shape", kFeed,
         R"({"ads":[{"icon_url":"http://x/i.png","iphone_url":"http://x/r","name":"Tamble"}],"throttle_pct":"50"})"},
        {"a number written as a string", R"({"throttle_pct":"50"})", R"({"throttle_pct":"50"})"},
        {"numbers keep their text", R"({"a":1.5e2,"b":-0,"c":50.0})", R"({"a":"1.5e2","b":"-0","c":"50.0"})"},
        {"nested maps land at the top", R"({"a":{"b":{"c":"1"}},"d":"2"})", R"({"c":"1","d":"2"})"},
        {"a map inside an element is an element of its own", R"({"ads":[{"a":"1","m":{"b":"2"}}]})",
         R"({"ads":[{"a":"1"},{"b":"2"}]})"},
        {"a later key replaces", R"({"a":"1","a":"2"})", R"({"a":"2"})"},
        {"booleans and null are skipped", R"({"a":true,"b":false,"c":null,"d":"x","ads":[{"e":null}]})",
         R"({"ads":[{}],"d":"x"})"},
        {"comments", "/* feed */ {\"a\": \"1\" // one\n}", R"({"a":"1"})"},
        {"an empty map", "{}", "{}"},
        {"an empty array", R"({"ads":[]})", R"({"ads":[]})"},
        {"UTF-8 text", "{\"name\":\"Tamb\xc3\xa9\"}", "{\"name\":\"Tamb\xc3\xa9\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto feed = parse(c.text);
        ASSERT_TRUE(feed);
        EXPECT_EQ(feed->canonicalJSON(), c.json);
    }
}

TEST(DrovikNetworkDataParser, FailuresGiveNoFeed) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"an array of strings", R"({"ads":["a","b"]})"},
        {"a string after an element", R"({"ads":[{"a":"1"},"b"]})"},
        {"an array in an array", R"({"ads":[[{"a":"1"}]]})"},
        {"an empty key", R"({"":"1"})"},
        {"an empty key for an array", R"({"":[]})"},
        {"a string at the top", R"("50")"},
        {"a number at the top", "50"},
        {"true at the top", "true"},
        {"null at the top", "null"},
        {"an array at the top", R"([{"a":"1"}])"},
        {"nothing", ""},
        {"invalid UTF-8", "{\"name\":\"\xc3\x28\"}"},
        {"trailing garbage", R"({"a":"1"} x)"},
        {"a second value", R"({"a":"1"}{"b":"2"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parse(c.text));
    }
    // A feed cut anywhere is no feed, however much of it parsed.
    for (size_t length = 0; length < kFeed.size(); ++length) {
        SCOPED_TRACE(kFeed.substr(0, length));
        EXPECT_FALSE(parse(kFeed.substr(0, length)));
    }
}

}  // namespace
