// What the platform's URL parser refuses, and what it lets through.
#include <gtest/gtest.h>

#include "platform/net/URLParsing.h"

namespace {

TEST(URLParsing, RefusesWhatAURLCannotHold) {
    const struct Case {
        const char* text;
        bool valid;
    } cases[] = {
        {"http://ads.example/show?id=1&x=%2F#top", true},
        {"/relative/path?q=1", true},
        {"mailto:someone@example.com", true},
        {"http://[::1]:8080/", true},
        {"http://a.example/two words", false},
        {"http://a.example/\"q\"", false},
        {"http://a.example/<b>", false},
        {"http://a.example/a\\b", false},
        {"http://a.example/^", false},
        {"http://a.example/`", false},
        {"http://a.example/{x}", false},
        {"http://a.example/a|b", false},
        {"http://a.example/\t", false},
        {"http://a.example/\x7f", false},
        {"http://a.example/caf\xc3\xa9", false},
        {"http://a.example/%zz", false},
        {"http://a.example/%4", false},
        {"http://a.example/100%", false},
    };
    for (const Case& c : cases) EXPECT_EQ(plat::net::isValidURLString(c.text), c.valid) << c.text;
}

}  // namespace
