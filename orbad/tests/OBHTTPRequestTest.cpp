// The ad client's requests against a recording server on 127.0.0.1: what goes out, what the
// delegate reads, time-outs, and cancelling (nothing called afterwards, threads ended).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "orbad/core/http/OBHTTPRequest.h"
#include "orbad/tests/OrbadTestSupport.h"

namespace {

using dktest::HeardLog;
using dktest::RecordingDelegate;
using dktest::ScriptedServer;
using orbad::OBCoreHTTPFormRequest;
using orbad::OBCoreHTTPRequest;
using orbad::OBHTTPFormRequest;
using orbad::OBHTTPRequest;

std::string hex(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {kHex[c >> 4], kHex[c & 15]};
    return out;
}

// "inflated text", gzipped.
const char* const kGzipped = "1f8b0800000000000203cbcc4bcb492c494d512849ad280100fbe22cc60d000000";

// An answer of the script: a body of these bytes (in hex) with these headers.
std::string answer(const std::string& hexBody, const std::string& headers = "") {
    return R"({"body_hex":")" + hexBody + R"(","headers":[)" + headers + "]}";
}

// Every test leaves nothing running behind it.
class OBHTTPRequestTest : public ::testing::Test {
protected:
    void TearDown() override {
        orbad::setOBUserAgentSource(nullptr);
        EXPECT_TRUE(OBCoreHTTPRequest::cancelAllAndWait(10));
        EXPECT_TRUE(OBCoreHTTPRequest::currentRequests().empty());
    }
};

TEST_F(OBHTTPRequestTest, HeadersThatGoOut) {
    const struct Case {
        const char* what;
        std::optional<std::string> agent;  // what the controller's configuration says
        bool core;                         // a core form request: never the client's User-Agent
        std::vector<std::pair<std::string, std::string>> added;
        const char* userAgent;  // expected; null: none
        const char* acceptEncoding;
    } cases[] = {
        {"no controller", std::nullopt, false, {}, nullptr, "gzip"},
        {"a configured agent", "OrbadTest/1.0", false, {}, "OrbadTest/1.0", "gzip"},
        {"an added encoding", std::nullopt, false, {{"Accept-Encoding", "identity"}}, nullptr, "identity"},
        {"a core form request", "OrbadTest/1.0", true, {}, nullptr, "gzip"},
    };
    for (const Case& c : cases) {
        ScriptedServer server;
        if (c.agent) {
            orbad::setOBUserAgentSource([agent = *c.agent] { return agent; });
        } else {
            orbad::setOBUserAgentSource([] { return std::optional<std::string>(); });
        }
        auto delegate = std::make_shared<RecordingDelegate>();
        std::shared_ptr<OBCoreHTTPRequest> request =
            c.core ? OBCoreHTTPFormRequest::create(server.url("/h"), delegate)
                   : std::static_pointer_cast<OBCoreHTTPRequest>(
                         OBHTTPRequest::create(server.url("/h"), delegate));
        for (const auto& [name, value] : c.added) request->addRequestHeader(name, value);
        request->startSynchronous();
        EXPECT_EQ(delegate->log().lines(), std::vector<std::string>{"finish 200 "}) << c.what;
        const auto seen = server.requests();
        ASSERT_EQ(seen.size(), 1u) << c.what;
        const std::string* agent = seen[0].header("User-Agent");
        EXPECT_EQ(agent ? *agent : "(none)", c.userAgent ? c.userAgent : "(none)") << c.what;
        EXPECT_EQ(std::count_if(seen[0].headers.begin(), seen[0].headers.end(),
                                [](const auto& f) { return f.first == "Accept-Encoding"; }),
                  1)
            << c.what;
        EXPECT_EQ(*seen[0].header("Accept-Encoding"), c.acceptEncoding) << c.what;
    }
}

TEST_F(OBHTTPRequestTest, WhatTheDelegateReads) {
    const struct Case {
        const char* what;
        std::string script;
        std::string heard;
        std::size_t requests;
    } cases[] = {
        {"gzip inflated", R"({"default":)" + answer(kGzipped, R"(["Content-Encoding","gzip"])") + "}",
         "finish 200 inflated text", 1},
        {"latin-1",
         R"({"default":)" + answer(hex("caf\xe9"), R"(["Content-Type","text/plain; charset=ISO-8859-1"])") +
             "}",
         "finish 200 caf\xc3\xa9", 1},
        {"a charset the system cannot convert",
         R"({"default":)" + answer(hex("a\xff"), R"(["Content-Type","text/plain; charset=x-no-such-set"])") +
             "}",
         "finish 200 a\xef\xbf\xbd", 1},
        {"no charset: UTF-8", R"({"default":)" + answer(hex("\xe2\x82\xac\xc3")) + "}",
         "finish 200 \xe2\x82\xac\xef\xbf\xbd", 1},
        {"a redirect followed",
         R"({"requests":{"1":{"status":"HTTP/1.1 302 Found","headers":[["Location","/next"]]},"2":{"body":"moved"}}})",
         "finish 200 moved", 2},
        {"an error status finishes", R"({"default":{"status":"HTTP/1.1 503 Busy","body":"later"}})",
         "finish 503 later", 1},
        // A cut answer is no answer: never handed over as one.
        {"gzip without its trailer",
         R"({"default":)" +
             answer(std::string(kGzipped).substr(0, std::strlen(kGzipped) - 16),
                    R"(["Content-Encoding","gzip"])") +
             "}",
         "fail -1011 200", 1},
        {"two lengths",
         R"({"default":{"body":"hello, ","headers":[["Content-Length","5"],["Content-Length","7"]]}})",
         "fail -1011 -2147483647", 1},
    };
    for (const Case& c : cases) {
        ScriptedServer server(c.script);
        auto delegate = std::make_shared<RecordingDelegate>();
        OBHTTPRequest::create(server.url("/r"), delegate)->startAsynchronous();
        EXPECT_EQ(delegate->log().waitFor(1), std::vector<std::string>{c.heard}) << c.what;
        EXPECT_EQ(server.requests().size(), c.requests) << c.what;
    }
}

TEST_F(OBHTTPRequestTest, FormBodies) {
    ScriptedServer server;
    auto delegate = std::make_shared<RecordingDelegate>();
    auto values = OBHTTPFormRequest::create(server.url("/f"), delegate);
    values->setPostValue("x y", "a");
    values->setPostValue("", "b");
    values->startSynchronous();
    OBCoreHTTPFormRequest::create(server.url("/g"), delegate)->startSynchronous();
    EXPECT_EQ(delegate->log().lines(), (std::vector<std::string>{"finish 200 ", "finish 200 "}));

    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_TRUE(seen[0].body == "a=x%20y&b=" || seen[0].body == "b=&a=x%20y") << seen[0].body;
    ASSERT_TRUE(seen[0].header("Content-Type"));
    EXPECT_EQ(*seen[0].header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    // Nothing posted: a POST all the same, with nothing to describe.
    EXPECT_EQ(seen[1].method, "POST");
    EXPECT_EQ(seen[1].body, "");
    ASSERT_TRUE(seen[1].header("Content-Length"));
    EXPECT_EQ(*seen[1].header("Content-Length"), "0");
    EXPECT_FALSE(seen[1].header("Content-Type"));
}

TEST_F(OBHTTPRequestTest, AnIdleServerTimesOut) {
    ScriptedServer server(R"({"default":{"silent":true}})");
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = OBHTTPRequest::create(server.url("/idle"), delegate);
    request->setTimeoutInterval(0.3);
    request->startAsynchronous();
    EXPECT_EQ(delegate->log().waitFor(1), std::vector<std::string>{"fail -1001 -2147483647"});
    ASSERT_TRUE(request->error());
    EXPECT_EQ(request->error()->code, -1001);
}

TEST_F(OBHTTPRequestTest, CancelledWhileTheServerDelays) {
    ScriptedServer server(R"({"default":{"delay":2,"body":"late"}})");
    auto delegate = std::make_shared<RecordingDelegate>();
    auto request = OBHTTPRequest::create(server.url("/slow"), delegate);
    request->startAsynchronous();
    ASSERT_TRUE(server.waitForRequests(1));
    request->cancel();
    // Long before the server answers: the run saw the flag at once.
    EXPECT_TRUE(dktest::waitUntil([] { return OBCoreHTTPRequest::currentRequests().empty(); }, 1.0));
    EXPECT_TRUE(OBCoreHTTPRequest::cancelAllAndWait(1.0)) << "its thread ended";
    EXPECT_TRUE(request->isCancelled() && request->isFinished());
    EXPECT_EQ(delegate->log().lines(), std::vector<std::string>{});
}

TEST_F(OBHTTPRequestTest, CancelledForTheirDelegateWhichThenGoes) {
    ScriptedServer server(R"({"default":{"delay":2,"body":"late"}})");
    auto heard = std::make_shared<HeardLog>();
    auto owner = std::make_shared<RecordingDelegate>(heard);
    auto other = std::make_shared<RecordingDelegate>();
    for (int i = 0; i < 20; ++i)
        OBHTTPRequest::create(server.url("/p" + std::to_string(i)), owner)->startAsynchronous();
    OBHTTPRequest::create(server.url("/other"), other)->startAsynchronous();
    ASSERT_TRUE(server.waitForRequests(21));
    OBCoreHTTPRequest::cancelRequestsForDelegate(owner.get());
    owner.reset();
    // Only the other owner's request is left, and it ends as usual.
    EXPECT_EQ(other->log().waitFor(1), std::vector<std::string>{"finish 200 late"});
    EXPECT_TRUE(dktest::waitUntil([] { return OBCoreHTTPRequest::currentRequests().empty(); }));
    EXPECT_EQ(heard->lines(), std::vector<std::string>{});
}

TEST_F(OBHTTPRequestTest, ARequestRunsOnceAndOnlyWhenStarted) {
    ScriptedServer server;
    auto delegate = std::make_shared<RecordingDelegate>();
    auto never = OBHTTPRequest::create(server.url("/never"), delegate);
    EXPECT_TRUE(OBCoreHTTPRequest::currentRequests().empty()) << "made, not started";

    auto twice = OBHTTPRequest::create(server.url("/twice"), delegate);
    twice->startAsynchronous();
    twice->startAsynchronous();
    twice->startSynchronous();
    EXPECT_EQ(delegate->log().waitFor(1).size(), 1u);

    auto cancelled = OBHTTPFormRequest::create(server.url("/cancelled"), delegate);
    cancelled->cancel();
    cancelled->startAsynchronous();
    EXPECT_FALSE(cancelled->isStarted());

    EXPECT_TRUE(dktest::waitUntil([] { return OBCoreHTTPRequest::currentRequests().empty(); }));
    const auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/twice");
    EXPECT_EQ(delegate->log().lines().size(), 1u);
}

// A delegate class with a method of its own for the outcome, as later owners have.
class ConfigLoader : public RecordingDelegate {
public:
    void configDidLoad(OBCoreHTTPRequest& request) { log().add("loaded " + request.responseString()); }
};

TEST_F(OBHTTPRequestTest, TheFinishSelectorChoosesWhatIsCalled) {
    ScriptedServer server(R"({"default":{"body":"cfg"}})");
    auto loader = std::make_shared<ConfigLoader>();
    auto request = OBHTTPRequest::create(server.url("/config"), loader);
    request->setDidFinishSelector(&ConfigLoader::configDidLoad);
    request->startSynchronous();
    EXPECT_EQ(loader->log().lines(), std::vector<std::string>{"loaded cfg"});
}

}  // namespace
