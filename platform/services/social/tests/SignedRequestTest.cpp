// The endpoints tweets go to, and a post that gets no answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "platform/services/social/SignedRequest.h"
#include "platform/services/social/tests/SocialTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::social;
using namespace dktest;

struct Answer {
    int status = -1;
    std::string body;
};

// Sends and waits for the handler, which runs on a worker thread.
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

// What the service receives, and the answers of every status, are checked on the plugin's roads
// (apps/drovik-player/tests); no answer at all is status 0.
TEST(SignedRequestTest, NoAnswerIsStatusZero) {
    Servers servers(entry("twitter.api", refusedURL()));
    const Answer refused = send(tweetRequest(testAccount(1), "x", std::nullopt));
    EXPECT_EQ(refused.status, 0);
    EXPECT_EQ(refused.body, "");
}

}  // namespace
