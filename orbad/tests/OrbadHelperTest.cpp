// The client's helpers: tolerant key-path readers, query strings, the device identifier's form,
// the helpers' Base64 and the view search.
#include <gtest/gtest.h>

#include "orbad/core/OrbadHelper.h"

namespace dktest {
namespace {

using orbad::Data;
using orbad::Value;

Value document() {
    return *orbad::OrbadJSON::decodeData(std::string_view(R"({
        "s": "text", "n": 7, "half": 0.5, "big": 1e20, "flag": true, "nulltext": "null",
        "url": "http://x.test/a", "noscheme": "x.test/a", "list": [{"a": 1}], "obj": {"in": {"deep": "yes"}},
        "color": {"r": 255, "g": 0, "b": 51, "a": 255}, "right": "right", "Right": "Right", "center": "center"})"));
}

TEST(KeyPaths, StringsReadTolerantly) {
    const Value d = document();
    const struct {
        const char* path;
        std::optional<std::string> expected;
    } cases[] = {
        {"s", "text"},
        {"n", "7"},
        {"half", "0.5"},
        {"big", "1e+20"},
        {"flag", "1"},
        {"nulltext", {}},
        {"missing", {}},
        {"obj.in.deep", "yes"},
        {"obj.in.deep.more", {}},
        // An array or an object is no text, and a path never passes through an array.
        {"list", {}},
        {"obj", {}},
        {"list.0.a", {}},
        {"list.a", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(orbad::stringForKeyPath(d, c.path), c.expected) << c.path;
}

TEST(KeyPaths, NumbersUrlsColoursAlignment) {
    const Value d = document();
    EXPECT_EQ(orbad::integerForKeyPath(d, "n"), 7);
    EXPECT_EQ(orbad::integerForKeyPath(d, "s"), 0);
    EXPECT_EQ(orbad::floatForKeyPath(d, "half"), 0.5f);
    EXPECT_EQ(orbad::floatForKeyPath(d, "missing"), 0.0f);
    EXPECT_EQ(orbad::urlForKeyPath(d, "url"), "http://x.test/a");
    EXPECT_EQ(orbad::urlForKeyPath(d, "noscheme"), std::nullopt);
    EXPECT_EQ(orbad::colorForKeyPath(d, "color"), (plat::ui::Color{1, 0, 0.2, 1}));
    EXPECT_EQ(orbad::colorForKeyPath(d, "nocolor"), std::nullopt);
    EXPECT_EQ(orbad::alignmentForKeyPath(d, "right"), orbad::TextAlignment::Right);
    EXPECT_EQ(orbad::alignmentForKeyPath(d, "center"), orbad::TextAlignment::Center);
    EXPECT_EQ(orbad::alignmentForKeyPath(d, "Right"), orbad::TextAlignment::Left);
}

TEST(QueryStrings, BuildAndParse) {
    Value::Dictionary d;
    orbad::setUTF8String(d, "a b", "x&y=z/~é");
    orbad::setDouble(d, "d", 0.5);
    orbad::setBool(d, "f", true);
    EXPECT_EQ(orbad::obBuildQueryString(Value(d)), "a%20b=x%26y%3Dz%2F%7E%C3%A9&d=0.5&f=1");
    EXPECT_EQ(orbad::obBuildQueryString(Value(Value::Dictionary{})), "");
    const Value::Dictionary parsed = orbad::obComponentsFromQueryString("a=1&skip&b=x+y%20z&a=2&e=&=v&k=a=b");
    EXPECT_EQ(Value(parsed).canonicalJSON(), R"({"":"v","a":"2","b":"x y z","e":"","k":"a=b"})");
}

// A malformed escape stays as written rather than losing the whole text.
TEST(QueryStrings, MalformedEscapesStayAsWritten) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"100%", "100%"}, {"%zz%41", "%zzA"}, {"%C3%A9", "\xC3\xA9"},
        {"%C3x", "%C3x"}, {"a%2", "a%2"},     {"%FF%41", "%FF%41"},
    };
    for (const auto& c : cases) EXPECT_EQ(orbad::obURLDecodedString(c.in), c.out) << c.in;
}

TEST(Strings, IdentifierAndHTMLForms) {
    EXPECT_EQ(orbad::orbadEncode("abc"), "59574A6A");
    EXPECT_EQ(orbad::obStringByAddingHTMLEscapes("it's \"q\"\n"), "it&#39;s &#34;q&#34;&#10;");
    EXPECT_EQ(orbad::OBConvertDataToSHA1String(Data{'a', 'b', 'c'}),
              "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(orbad::stringWithHexBytes(Data{0x00, 0xAB}), "00AB");
}

TEST(HelperBase64, LinesEvery48BytesAndTolerantDecoding) {
    const Data d48(48, 0xA5), d49(49, 0xA5);
    const std::string e48 = orbad::orbadBase64EncodedString(d48), e49 = orbad::orbadBase64EncodedString(d49);
    EXPECT_EQ(e48.size(), 64u);
    EXPECT_EQ(e48.find('\r'), std::string::npos);
    EXPECT_EQ(e49.size(), 70u);
    EXPECT_EQ(e49.substr(64, 2), "\r\n");
    EXPECT_EQ(orbad::orbadDataFromBase64EncodedString(e49), d49);
    EXPECT_EQ(orbad::OBNewBase64Encode(d49.data(), d49.size(), false).size(), 68u);
    const struct {
        const char* text;
        Data bytes;
    } cases[] = {
        {"YWJj\r\n", {'a', 'b', 'c'}},
        {"YWI=", {'a', 'b'}},
        {"YWI", {'a', 'b'}},
        {"YQ", {'a'}},
        {"Y", {}},
        {"Y W\tJ j", {'a', 'b', 'c'}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(orbad::orbadDataFromBase64EncodedString(c.text), c.bytes) << c.text;
    EXPECT_EQ(orbad::OBNewBase64Decode("YWJj", SIZE_MAX), (Data{'a', 'b', 'c'}));
}

TEST(Errors, InTheClientsDomain) {
    const orbad::Error plain = orbad::obErrorWithCode(3);
    EXPECT_EQ(plain.domain, orbad::kOBAdsErrorDomain);
    EXPECT_TRUE(plain.userInfo.isNull());
    const orbad::Error described = orbad::obErrorWithCode(4, std::string("why"));
    EXPECT_EQ(described.userInfo.canonicalJSON(), R"({"NSLocalizedDescription":"why"})");
    EXPECT_EQ(described.message, "why");
}

class Named : public plat::ui::View {
public:
    explicit Named(const char* name) : m_name(name) {}
    const char* className() const override { return m_name; }

private:
    const char* m_name;
};

TEST(Views, SubviewByClassNameTopLevelFirst) {
    plat::ui::View root;
    auto branch = std::make_shared<plat::ui::View>();
    auto deepTarget = std::make_shared<Named>("Target");
    auto topTarget = std::make_shared<Named>("Target");
    branch->addSubview(deepTarget);
    root.addSubview(branch);
    EXPECT_EQ(orbad::subviewWithClassName(root, "Target"), deepTarget);
    EXPECT_EQ(orbad::subviewWithClassName(root, "Target", true), nullptr);
    root.addSubview(topTarget);
    EXPECT_EQ(orbad::subviewWithClassName(root, "Target"), topTarget);
}

}  // namespace
}  // namespace dktest
