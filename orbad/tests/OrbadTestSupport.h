// What the ad client's network tests share: a recording server with its records read back, and a
// delegate that writes down what it hears.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orbad/core/http/OBCoreHTTPRequest.h"
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

// Polls `done` until it holds or `seconds` of real time have passed; its last answer.
bool waitUntil(const std::function<bool()>& done, double seconds = 10);

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

}  // namespace dktest
