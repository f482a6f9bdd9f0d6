// Tweets as the service receives them, from a server of the test's own on 127.0.0.1: the signed
// form post and the multipart image post, and what each kind of answer hands back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "platform/image/ImageCodec.h"
#include "platform/social/SignedRequest.h"
#include "platform/social/tests/SocialTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::social;
using namespace dktest;

struct Answer {
    int status = -1;
    std::string body;
};

// Sends and waits for the handler, which runs on the network loop's thread.
Answer send(const SignedRequest& request) {
    auto promise = std::make_shared<std::promise<Answer>>();
    std::future<Answer> future = promise->get_future();
    request.perform([promise](int status, std::vector<std::uint8_t> body) {
        promise->set_value({status, std::string(body.begin(), body.end())});
    });
    return future.get();
}

// DROVIK_SERVERS naming `servers` (one file per case: the list is read once per path).
class Servers {
public:
    explicit Servers(const std::string& entries) {
        static int count = 0;
        m_path = m_dir.file("servers" + std::to_string(++count) + ".plist");
        writeFile(m_path, "<plist version=\"1.0\"><dict>" + entries + "</dict></plist>");
        setenv("DROVIK_SERVERS", m_path.c_str(), 1);
    }
    ~Servers() { unsetenv("DROVIK_SERVERS"); }

private:
    TempDir m_dir;
    std::string m_path;
};

std::string entry(const std::string& name, const std::string& url) {
    return "<key>" + name + "</key><string>" + url + "</string>";
}

// Both endpoints carry the account's credentials: HTTPS unless pointed elsewhere.
TEST(SignedRequestTest, EndpointsAreHttpsByDefault) {
    unsetenv("DROVIK_SERVERS");
    EXPECT_EQ(statusUpdateURL(), "https://api.twitter.com/1/statuses/update.json");
    EXPECT_EQ(statusUpdateWithMediaURL(), "https://upload.twitter.com/1/statuses/update_with_media.json");
    Servers servers(entry("twitter.api", "http://127.0.0.1:9/") + entry("twitter.upload", "http://127.0.0.1:8"));
    EXPECT_EQ(statusUpdateURL(), "http://127.0.0.1:9/1/statuses/update.json");
    EXPECT_EQ(statusUpdateWithMediaURL(), "http://127.0.0.1:8/1/statuses/update_with_media.json");
}

TEST(SignedRequestTest, TextPostIsASignedForm) {
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "{}"}; });
    Servers servers(entry("twitter.api", server.url("")));
    const Account account = testAccount(1);
    const Answer answer = send(tweetRequest(account, "Hello w\u00f6rld! & more", std::nullopt));
    EXPECT_EQ(answer.status, 200);
    ASSERT_EQ(server.requests().size(), 1u);
    const ReceivedRequest request = server.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/1/statuses/update.json");
    EXPECT_EQ(*request.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.body, "status=Hello%20w%C3%B6rld%21%20%26%20more");
    const auto oauth = oauthHeaderParameters(*request.header("Authorization"));
    EXPECT_EQ(oauth.at("oauth_token"), "token-1");
    EXPECT_EQ(oauth.at("oauth_version"), "1.0");
    EXPECT_TRUE(carriesValidSignature(request, server.url("/1/statuses/update.json"), account));
    EXPECT_FALSE(carriesValidSignature(request, server.url("/1/statuses/update.json"), testAccount(2)));
}

TEST(SignedRequestTest, ImagePostSendsTheImageAndTextAsParts) {
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "{}"}; });
    Servers servers(entry("twitter.upload", server.url("")));
    std::vector<std::uint8_t> pixels(5 * 3 * 4, 0x80), png;
    std::string error;
    ASSERT_TRUE(plat::image::encodePNG(5, 3, pixels.data(), pixels.size(), 4, &png, &error)) << error;
    const Account account = testAccount(1);
    EXPECT_EQ(send(tweetRequest(account, "pic \u2603", png)).status, 200);
    ASSERT_EQ(server.requests().size(), 1u);
    const ReceivedRequest request = server.requests().front();
    EXPECT_EQ(request.target, "/1/statuses/update_with_media.json");
    const std::vector<ReceivedPart> parts = multipartParts(request);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].disposition, "form-data; name=\"media[]\"");
    EXPECT_EQ(parts[1].disposition, "form-data; name=\"status\"");
    for (const ReceivedPart& part : parts) EXPECT_EQ(part.contentType, "multipart/form-data");
    EXPECT_EQ(parts[1].data, "pic \u2603");
    plat::image::Bitmap sent;
    ASSERT_TRUE(plat::image::decode(reinterpret_cast<const std::uint8_t*>(parts[0].data.data()), parts[0].data.size(), &sent));
    EXPECT_EQ(sent.width, 5);
    EXPECT_EQ(sent.height, 3);
    // The parts are no part of the signature.
    EXPECT_TRUE(carriesValidSignature(request, server.url("/1/statuses/update_with_media.json"), account));
}

// The answers of every status reach the plugin (its road test); no answer at all is status 0.
TEST(SignedRequestTest, NoAnswerIsStatusZero) {
    Servers servers(entry("twitter.api", refusedURL()));
    const Answer refused = send(tweetRequest(testAccount(1), "x", std::nullopt));
    EXPECT_EQ(refused.status, 0);
    EXPECT_EQ(refused.body, "");
}

}  // namespace
