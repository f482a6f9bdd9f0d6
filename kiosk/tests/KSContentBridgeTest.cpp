// The bridge's text work: the address a navigation is dispatched under, and the reply script, the
// callback id always a well-formed string literal.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "kiosk/KSContentBridge.h"

namespace {

std::string prefix() {
    std::ifstream in(DK_KIOSK_TEST_DATA "/callback-prefix.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(KSContentBridge, CallAddressLeavesTheQueryOut) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"ks://dismiss?context=%7B%7D&callback=1", "ks://dismiss"},
        {"ks://loadContext", "ks://loadContext"},
        {"ks://a/b/c?x#y", "ks://a/b/c"},
        {"http://h.example/p.html#frag", "http://h.example/p.html"},
        {"about:blank", std::nullopt},
        {"file:///tmp/x.html", std::nullopt},
        {"ks://?callback=1", std::nullopt},
    };
    for (const auto& [url, address] : cases) EXPECT_EQ(kiosk::callAddress(url), address) << url;
}

TEST(KSContentBridge, ReplyScriptQuotesTheIdAsAStringLiteral) {
    KSJsonObject response;
    response.set("url", "http://x/\"y\"");
    KSJsonObject error;
    error.set("error", "1");
    const KSJsonValue r(response), e(error);
    struct Case {
        std::optional<std::string> id;
        const KSJsonValue *response, *error;
        std::string args;
    };
    const Case cases[] = {
        {"cb-17_a.b/c:d", nullptr, nullptr, R"("cb-17_a.b/c:d",null,null))"},
        {std::nullopt, nullptr, nullptr, R"("null",null,null))"},
        {"7", &r, &e, R"("7",{"url":"http://x/\"y\""},{"error":"1"}))"},
        // The mended fault: a quote or backslash in the id ended the literal early.
        {R"(a"+alert(1)+")", nullptr, nullptr, R"("a\"+alert(1)+\"",null,null))"},
        {R"(back\slash\)", nullptr, nullptr, R"("back\\slash\\",null,null))"},
        {"line\nbreak\x01", nullptr, nullptr, R"("line\nbreak\u0001",null,null))"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kiosk::callbackScript(c.id, c.response, c.error), prefix() + c.args) << c.args;
}

}  // namespace
