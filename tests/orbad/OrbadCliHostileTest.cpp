// dk-orbad-cli against a hostile server: every request, ping and configuration fetch ends with the
// failure said, within its time-out, and within a bounded memory; a refused configuration keeps
// the one cached before.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-orbad-cli/dk-orbad-cli";
const std::string kData = DK_TEST_DATA_DIR;

struct Attack {
    const char* answer;
    int failure;
};

const Attack kMemoryAttacks[] = {
    {R"({"attack": "gzip-zeros"})", -1103},
    {R"({"attack": "big-body"})", -1103},
    {R"({"attack": "endless-header"})", -1011},
};

dktest::ProcessResult runClient(const dktest::TempDir& work, const std::string& home, const std::string& commands,
                                const std::string& server) {
    dktest::writeFile(work.file("run.commands"), commands);
    return dktest::runProcess({kCli, "--home", work.file(home), "--bundle", kData + "/PlayerTest.app",
                               "--device-facts", kData + "/facts.plist", "--start-time", "1700000000", "--net",
                               "wifi", "--endpoint", "orbad=" + server, "--commands", work.file("run.commands")},
                              {}, work.path());
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A plain request, a ping (whose body is ignored, so never inflated) and the configuration fetch,
// each served every attack.
TEST(OrbadCliHostile, AnswersPastTheirBoundsFailInBoundedMemory) {
    for (const Attack& a : kMemoryAttacks) {
        SCOPED_TRACE(a.answer);
        dktest::TempDir work;
        dktest::HostileServer server(work.file("server"), a.answer);
        ASSERT_TRUE(server.running());
        dktest::ProcessResult r = runClient(
            work, "home", "peak-memory\nget " + server.url() + "/a\nsettle 120\npeak-memory\n", server.url());
        EXPECT_TRUE(contains(r.out, "delegate requestDidFail " + std::to_string(a.failure) + "\nidle\n")) << r.out;
        EXPECT_LT(dktest::peakMemoryGrowthKb(r.out), dktest::kAttackMemoryBoundKb);

        dktest::writeFile(work.file("events.json"), R"({"onShow": [")" + server.url() + R"(/ping"]})");
        r = runClient(work, "home", "peak-memory\nevent events.json show\nsettle 120\npeak-memory\n", server.url());
        EXPECT_TRUE(contains(r.out, "event show 1\nidle\n")) << r.out;
        EXPECT_LT(dktest::peakMemoryGrowthKb(r.out), dktest::kAttackMemoryBoundKb);

        r = runClient(work, "home", "peak-memory\nstart APP123\nrun 0.1\nsettle 120\npeak-memory\n", server.url());
        EXPECT_TRUE(contains(r.out, "\nidle\n")) << r.out;
        EXPECT_LT(dktest::peakMemoryGrowthKb(r.out), dktest::kAttackMemoryBoundKb);
        server.stop();
        EXPECT_EQ(server.requestLines().size(), 3u);
    }
}

// A byte every half second no longer holds a request open: its time-out bounds the whole exchange.
// An address that is not absolute fails and leaves the running requests at once.
TEST(OrbadCliHostile, RequestsEndWithinTheirTimeOut) {
    dktest::TempDir work;
    dktest::HostileServer server(work.file("server"), R"({"attack": "trickle"})");
    ASSERT_TRUE(server.running());
    dktest::ProcessResult r =
        runClient(work, "home", "get " + server.url() + "/a timeout=2\nsettle 120\nget 5\nsettle 120\n", server.url());
    EXPECT_EQ(r.out, "http GET " + server.url() + "/a\ndelegate requestDidFail -1001\nidle\nhttp GET 5\n"
                                                    "delegate requestDidFail -1000\nidle\n");
}

// The cache a good answer left stays when the next answer is refused for its length, though it
// parses; a configuration URL trickled at stays pending no longer than the request's time-out.
TEST(OrbadCliHostile, ARefusedConfigurationKeepsTheCachedOne) {
    dktest::TempDir work;
    const std::string big(300 * 1024, 'x');
    dktest::RecordingServer server(work.file("server"), R"({"requests": {
        "1": {"body": "{\"idle_timeout\": 77}"},
        "2": {"body": "{\"idle_timeout\": 5, \"native_urls\": [\")" + big + R"(\"]}"}}})");
    ASSERT_TRUE(server.running());
    const std::string commands = "start APP123\nrun 0.1\nsettle 120\nconfig\n";
    dktest::ProcessResult first = runClient(work, "home", commands, server.url());
    EXPECT_TRUE(contains(first.out, "config idleTimeout 77.000000\n")) << first.out;
    std::string cacheFile;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(work.file("home")))
        if (entry.path().filename().string().starts_with("OrbadConfig-")) cacheFile = entry.path();
    ASSERT_FALSE(cacheFile.empty());
    const std::string cached = dktest::readFile(cacheFile);

    dktest::ProcessResult second = runClient(work, "home", commands, server.url());
    EXPECT_TRUE(contains(second.out, "config idleTimeout 77.000000\n")) << second.out;
    EXPECT_EQ(dktest::readFile(cacheFile), cached);
    server.stop();
    EXPECT_EQ(server.requestLines().size(), 2u);
}

}  // namespace
