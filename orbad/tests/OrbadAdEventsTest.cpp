// Event tables from their JSON, and firing them against a recording server.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "orbad/core/OrbadAdEvents.h"
#include "orbad/core/http/OBHTTPRequest.h"
#include "orbad/tests/OrbadTestSupport.h"

namespace {

using orbad::OrbadAdEvents;
using orbad::Value;

Value json(const std::string& text) {
    return *orbad::OrbadJSON::decodeData(text);
}

TEST(OrbadAdEvents, TableFromItsJSON) {
    const OrbadAdEvents events(json(R"({
        "onShow": ["http://a.example/1", "http://a.example/bad url", "/relative?x=%41", "http://a.example/2"],
        "TOUCH": "http://a.example/t",
        "online": "http://a.example/l",
        "noAd": [],
        "Later": ["http://a.example/first"],
        "later": ["http://a.example/second"]
    })"));
    const OrbadAdEvents::Table expected = {
        {"show", {"http://a.example/1", "/relative?x=%41", "http://a.example/2"}},
        {"touch", {"http://a.example/t"}},
        {"line", {"http://a.example/l"}},
        {"noad", {}},
        {"later", {"http://a.example/second"}},  // "Later" < "later": the later key's list
    };
    EXPECT_EQ(events.events(), expected);
    EXPECT_TRUE(OrbadAdEvents(json(R"(["http://a.example/1"])")).events().empty());
}

TEST(OrbadAdEvents, FiringRequestsEachURLEveryTime) {
    dktest::ScriptedServer server;
    orbad::setOBUserAgentSource([] { return std::optional<std::string>("Pinger/2"); });
    const OrbadAdEvents events(json(R"({"onShow": [")" + server.url("/s1") + R"(", "bad entry", ")" +
                                    server.url("/s2") + R"("], "touch": ")" + server.url("/t") + R"("})"));
    for (const char* name : {"show", "show", "onTouch", "touch", "TOUCH", "nothing"})
        events.triggerEvent(name);
    ASSERT_TRUE(dktest::waitUntil([] { return orbad::OBCoreHTTPRequest::inFlightCount() == 0; }));
    orbad::setOBUserAgentSource(nullptr);

    std::map<std::string, int> counts;
    for (const dktest::SeenRequest& seen : server.requests()) {
        ++counts[seen.method + " " + seen.path];
        EXPECT_EQ(*seen.header("User-Agent"), "Pinger/2");
    }
    EXPECT_EQ(counts, (std::map<std::string, int>{{"GET /s1", 2}, {"GET /s2", 2}, {"GET /t", 3}}));
    EXPECT_TRUE(orbad::OBCoreHTTPRequest::cancelAllAndWait(10)) << "the pings' threads joined";
}

}  // namespace
