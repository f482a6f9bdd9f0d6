#include "platform/foundation/JSONText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace plat::foundation {
namespace {

struct EscapeCase {
    std::string text, named, numeric;
};

const std::vector<EscapeCase>& escapeCases() {
    static const std::vector<EscapeCase> cases = {
        {"plain", "plain", "plain"},
        {"say \"hi\" \\o/", "say \\\"hi\\\" \\\\o/", "say \\\"hi\\\" \\\\o/"},
        {"a\nb\rc\td\be\ff", "a\\nb\\rc\\td\\be\\ff", "a\\u000ab\\u000dc\\u0009d\\u0008e\\u000cf"},
        {std::string("\0\x01\x1f", 3), "\\u0000\\u0001\\u001f", "\\u0000\\u0001\\u001f"},
        {"\x7f \xC3\xA9 \xE2\x80\xA8", "\x7f \xC3\xA9 \xE2\x80\xA8", "\x7f \xC3\xA9 \xE2\x80\xA8"},
        {"\xFF", "\xFF", "\xFF"},
    };
    return cases;
}

TEST(JSONText, EscapesQuotesBackslashesAndControlsInEitherForm) {
    for (const EscapeCase& c : escapeCases()) {
        SCOPED_TRACE(c.named);
        std::string named = "[", numeric = "[";
        appendJSONEscaped(named, c.text);
        appendJSONEscaped(numeric, c.text, JSONControlEscapes::Numeric);
        EXPECT_EQ(named, "[" + c.named);
        EXPECT_EQ(numeric, "[" + c.numeric);
    }
}

TEST(JSONText, BothFormsReadBackAsTheText) {
    for (const EscapeCase& c : escapeCases()) {
        if (c.text.find('\xFF') != std::string::npos) continue;  // not UTF-8: no JSON reader takes it
        SCOPED_TRACE(c.named);
        for (const JSONControlEscapes form : {JSONControlEscapes::Named, JSONControlEscapes::Numeric}) {
            std::string json = "\"";
            appendJSONEscaped(json, c.text, form);
            json += '"';
            std::string error;
            const std::optional<Value> read = Value::fromJSON(json, &error);
            ASSERT_TRUE(read) << error;
            ASSERT_TRUE(read->string());
            EXPECT_EQ(*read->string(), c.text);
        }
    }
}

}  // namespace
}  // namespace plat::foundation
