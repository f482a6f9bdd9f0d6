// The client's text functions: digest and Base64 vectors, the encoders' character sets over every
// byte, the decoders' failures, query strings read and written, HTML escaping.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "kiosk/KSJsonParser.h"
#include "kiosk/KSJsonWriter.h"
#include "kiosk/KSStringUtil.h"

namespace {

std::string json(const KSJsonObject& object) {
    return KSJsonWriter().stringWithObject(object).value_or("(unwritable)");
}

KSJsonObject objectFrom(const std::string& text) {
    std::optional<KSJsonValue> value = KSJsonParser().objectWithString(text);
    EXPECT_TRUE(value && value->object()) << text;
    return value && value->object() ? *value->object() : KSJsonObject();
}

TEST(KSStringUtil, Base64IsUrlSafeWithoutPadding) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},           {"f", "Zg"},          {"fo", "Zm8"},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "-_8"},
        {"\xfb\xef\xbe", "----"}, {"\xff\xff\xff", "____"},
    };
    for (const auto& [bytes, text] : cases) {
        KSStringUtil::Bytes data(bytes.begin(), bytes.end());  // sized exactly: a read past it shows under ASan
        EXPECT_EQ(KSStringUtil::base64EncodedStringForData(data), text);
    }
}

TEST(KSStringUtil, DigestsCoverEveryUtf8Byte) {
    struct Case {
        const char *text, *hex, *b64;
    };
    const Case cases[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d", "qZk-NkcGgWq6PiVxeFDCbJzQ2J0"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709", "2jmj7l5rSw0yVb_vlWAYkK_YBwk"},
        {"caf\xc3\xa9 \xe2\x82\xac\xf0\x9f\x98\x80", "f6b0930331f76690e614988446e15f3f14170b49",
         "9rCTAzH3ZpDmFJiERuFfPxQXC0k"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KSStringUtil::hexDigestForString(c.text), c.hex);
        EXPECT_EQ(KSStringUtil::b64DigestForString(c.text), c.b64);
    }
    EXPECT_EQ(KSStringUtil::hexEncodedStringForData({0x00, 0x0f, 0xa0, 0xff}), "000fa0ff");
}

TEST(KSStringUtil, UuidDigestsAFreshUuid) {
    EXPECT_EQ(KSStringUtil::uuid([] { return std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"); }),
              "Hnckx1Gj9uYkEBjRUBRIMudSg4M");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string token = KSStringUtil::uuid();
        EXPECT_EQ(token.size(), 27u);
        EXPECT_EQ(token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos);
        EXPECT_TRUE(seen.insert(token).second);
    }
}

TEST(KSStringUtil, EncodersKeepExactlyTheirSetsOverEveryByte) {
    const std::string alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::string strictKept = alnum + "-_.~";
    const std::string lenientKept = alnum + "-_.!~*'()" + ";/?:@&=+$,";
    for (int b = 0; b < 256; ++b) {
        std::string byte(1, static_cast<char>(b));
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", b);
        bool strict = b != 0 && strictKept.find(byte) != std::string::npos;
        bool lenient = b != 0 && lenientKept.find(byte) != std::string::npos;
        EXPECT_EQ(KSStringUtil::stringByUrlEncodingString(byte), strict ? byte : escaped) << b;
        EXPECT_EQ(kiosk::stringByEncodingURLFormat(byte), b == ' ' ? "+" : lenient ? byte : escaped) << b;
    }
    const std::string text = "a b&c=d/\xc3\xa9%#";
    EXPECT_EQ(KSStringUtil::stringByUrlDecodingString(KSStringUtil::stringByUrlEncodingString(text)), text);
    EXPECT_EQ(kiosk::stringByDecodingURLFormat(kiosk::stringByEncodingURLFormat(text)), text);
}

TEST(KSStringUtil, DecodersRefuseMalformedEscapesAndNonUtf8) {
    const std::pair<const char*, std::optional<std::string>> url[] = {
        {"%41%c3%A9+b", "A\xc3\xa9+b"}, {"", ""},     {"%zz", std::nullopt},   {"%", std::nullopt},
        {"a%4", std::nullopt},          {"%C3", std::nullopt}, {"%FF", std::nullopt}, {"%C0%AF", std::nullopt},
        {"%ED%A0%80", std::nullopt},    {"%00", std::string(1, '\0')},
    };
    for (const auto& [text, decoded] : url) EXPECT_EQ(KSStringUtil::stringByUrlDecodingString(text), decoded) << text;
    EXPECT_EQ(kiosk::stringByDecodingURLFormat("x+y%2B%21"), "x y+!");
    EXPECT_EQ(kiosk::stringByDecodingURLFormat("x+%zz"), std::nullopt);
}

TEST(KSQueryComponents, ReadersGiveTheirDictionaries) {
    const std::pair<const char*, const char*> components[] = {
        {"a=1&a=2&b=x+y%21", R"({"a":["1","2"],"b":"x y!"})"},
        {"a=1&a=2&a=3&b=0", R"({"a":["1","2","3"],"b":"0"})"},
        {"a=b=c", R"({"a":"b"})"},
        {"a&=x&b=&&c=1&", R"({"":"x","b":"","c":"1"})"},
        {"", "{}"},
    };
    for (const auto& [text, expected] : components) EXPECT_EQ(json(kiosk::dictionaryFromQueryComponents(text)), expected);
    EXPECT_EQ(json(kiosk::queryComponents("ks://dispatch/call?callback=7&context=%7B%22a%22%3A1%7D#a=b")),
              R"({"callback":"7","context":"{\"a\":1}"})");
    EXPECT_EQ(json(kiosk::queryComponents("ks://dispatch/call")), "{}");

    const std::pair<const char*, const char*> queryStrings[] = {
        {"a=1;b=2&&;c=3", R"({"a":"1","b":"2","c":"3"})"},
        {"b=1&a=2&b=3", R"({"b":"3","a":"2"})"},
        {"a=b=c&d&=", R"({"":""})"},
        {"x+y=%41+", R"({"x+y":"A+"})"},
    };
    for (const auto& [text, expected] : queryStrings) EXPECT_EQ(json(KSStringUtil::dictionaryWithQueryString(text)), expected);
    EXPECT_EQ(json(KSStringUtil::dictionaryWithQueryString(std::nullopt)), "{}");
}

// A key or value that did not decode used to be nil, and inserting it ended the process.
TEST(KSQueryComponents, UndecodableTextIsKeptAsWritten) {
    EXPECT_EQ(json(kiosk::dictionaryFromQueryComponents("k=%zz&%=v&x=%C3&p=a+%zz&ok=%41")),
              R"({"k":"%zz","%":"v","x":"%C3","p":"a+%zz","ok":"A"})");
    EXPECT_EQ(json(KSStringUtil::dictionaryWithQueryString("k=%zz;%E9=1")), R"({"k":"%zz","%E9":"1"})");
}

TEST(KSQueryComponents, WritersGiveTheirQueries) {
    struct Case {
        const char* object;
        const char *components, *withQuery, *quirky;
    };
    const Case cases[] = {
        {R"({"b":"x y","a":[1,true,null],"c":{"k":[1]}})",
         "b=x+y&a=1&a=1&a=%3Cnull%3E&c=%7B%22k%22:%5B1%5D%7D",
         "b=x%20y&a=%5B1%2Ctrue%2Cnull%5D&c=%7B%22k%22%3A%5B1%5D%7D",
         "b=x%20y&a=%5B1%2Ctrue%2Cnull%5D&c=%7B%22k%22%3A%5B1%5D%7D"},
        {R"({"n":null,"d":1.50,"i":-3,"f":false})", "n=%3Cnull%3E&d=1.5&i=-3&f=0", "n=&d=1.5&i=-3&f=0",
         "n=%3Cnull%3E&d=1.5&i=-3&f=0"},
        {R"({"a b":"&=/?#%"})", "a+b=&=/?%23%25", "a b=%26%3D%2F%3F%23%25", "a b=%26%3D%2F%3F%23%25"},
        {R"({"e":[]})", "", "e=%5B%5D", "e=%5B%5D"},
        {"{}", nullptr, "", ""},
    };
    for (const Case& c : cases) {
        KSJsonObject object = objectFrom(c.object);
        EXPECT_EQ(kiosk::stringFromQueryComponents(object),
                  c.components ? std::optional<std::string>(c.components) : std::nullopt)
            << c.object;
        EXPECT_EQ(KSStringUtil::stringWithQuery(object), c.withQuery) << c.object;
        EXPECT_EQ(KSStringUtil::stringWithQueryQuirky(object), c.quirky) << c.object;
    }
}

TEST(KSStringUtil, HtmlEscapingUsesTheTableAndDecimalReferences) {
    const std::pair<char16_t, const char*> table[] = {
        {34, "&quot;"},     {38, "&amp;"},      {39, "&apos;"},    {60, "&lt;"},       {62, "&gt;"},
        {338, "&OElig;"},   {339, "&oelig;"},   {352, "&Scaron;"}, {353, "&scaron;"},  {376, "&Yuml;"},
        {710, "&circ;"},    {732, "&tilde;"},   {8194, "&ensp;"},  {8195, "&emsp;"},   {8201, "&thinsp;"},
        {8204, "&zwnj;"},   {8205, "&zwj;"},    {8206, "&lrm;"},   {8207, "&rlm;"},    {8211, "&ndash;"},
        {8212, "&mdash;"},  {8216, "&lsquo;"},  {8217, "&rsquo;"}, {8218, "&sbquo;"},  {8220, "&ldquo;"},
        {8221, "&rdquo;"},  {8222, "&bdquo;"},  {8224, "&dagger;"}, {8225, "&Dagger;"}, {8240, "&permil;"},
        {8249, "&lsaquo;"}, {8250, "&rsaquo;"}, {8364, "&euro;"},
    };
    for (const auto& [unit, entity] : table) {
        std::string utf8;
        if (unit < 0x80) {
            utf8 = std::string(1, static_cast<char>(unit));
        } else if (unit < 0x800) {
            utf8 = {static_cast<char>(0xC0 | (unit >> 6)), static_cast<char>(0x80 | (unit & 0x3F))};
        } else {
            utf8 = {static_cast<char>(0xE0 | (unit >> 12)), static_cast<char>(0x80 | ((unit >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (unit & 0x3F))};
        }
        EXPECT_EQ(KSStringUtil::stringByHtmlEscapingString("x" + utf8 + "y"), std::string("x") + entity + "y") << int(unit);
    }
    const std::pair<const char*, const char*> texts[] = {
        {"", ""},
        {"<\xc3\xa9>", "&lt;&#233;&gt;"},
        {"plain text, 100% ASCII!", "plain text, 100% ASCII!"},
        {"\xc5\x93\xc5\x92\xe2\x82\xac\xef\xbf\xbd", "&oelig;&OElig;&euro;&#65533;"},
        {"bad \xff byte", "bad &#65533; byte"},
    };
    for (const auto& [text, escaped] : texts) EXPECT_EQ(KSStringUtil::stringByHtmlEscapingString(text), escaped);
}

// Each half of a surrogate pair used to become a reference of its own: two replacement characters
// in every browser.
TEST(KSStringUtil, HtmlEscapingWritesOneReferencePerCharacterOutsideTheBasicPlane) {
    EXPECT_EQ(KSStringUtil::stringByHtmlEscapingString("a\xf0\x9f\x98\x80z\xf4\x8f\xbf\xbf"), "a&#128512;z&#1114111;");
}

}  // namespace
