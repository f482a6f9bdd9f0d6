// What the ad client's network tests share: a recording server with its records read back, and a
// delegate that writes down what it hears.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLLoading.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace dktest {

struct SeenRequest {
    std::string method, path;
    plat::net::Headers headers;
    std::string body;
    const std::string* header(std::string_view name) const { return plat::net::findHeader(headers, name); }
};

// tests/servers/recording_server.py in a folder of its own, answering by `script`.
class ScriptedServer {
public:
    explicit ScriptedServer(const std::string& script = "") : m_server(m_dir.file("server"), script) {}
    std::string url(const std::string& path = "/") const { return m_server.url() + path; }
    std::vector<SeenRequest> requests() const;
    // True once it has seen `count` requests; gives up after 10 s.
    bool waitForRequests(std::size_t count) const;

private:
    TempDir m_dir;
    RecordingServer m_server;
};

// Outcomes, in order: "finish STATUS BODY" or "fail CODE STATUS". Shared, so it outlives the
// delegates that write to it.
class HeardLog {
public:
    void add(std::string line);
    std::vector<std::string> lines() const;
    // The lines once there are `count` (giving up after 10 s).
    std::vector<std::string> waitFor(std::size_t count) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_lines;
};

class RecordingDelegate : public orbad::OBHTTPRequestDelegate {
public:
    explicit RecordingDelegate(std::shared_ptr<HeardLog> log = std::make_shared<HeardLog>())
        : m_log(std::move(log)) {}
    void requestDidFinish(orbad::OBCoreHTTPRequest& request) override;
    void requestDidFail(orbad::OBCoreHTTPRequest& request, const orbad::Error& error) override;
    HeardLog& log() const { return *m_log; }

private:
    std::shared_ptr<HeardLog> m_log;
};

inline constexpr const char* kTestAdvertisingId = "6D92078A-8246-4BA4-AE5B-76104861E7DC";

// The ad client's world for one test: PlayerTest.app (CFBundleExecutable "PlayerTest",
// CFBundleVersion "1.0.3"), an iPhone4,1 on 6.1 with the advertising id above, a container, the
// named pasteboards, Wi-Fi, the virtual clock at 1700000000, and the ad servers at `server`.
class OrbadClientTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void info(plat::foundation::Value::Dictionary extra);
    // The test device's facts with `changes` over them.
    void facts(plat::foundation::Value::Dictionary changes);
    std::string home(const std::string& relative) const { return m_dir.file("home/" + relative); }
    // Turns the main loop until `done` holds (10 s of real time at most).
    static bool turnUntil(const std::function<bool()>& done);

    TempDir m_dir;
    ScriptedServer* m_server = nullptr;  // set by tests that answer
    std::optional<plat::foundation::Container> m_container;
};

}  // namespace dktest
