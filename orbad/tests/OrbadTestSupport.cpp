#include "orbad/tests/OrbadTestSupport.h"

#include <chrono>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Value.h"

namespace dktest {

using plat::foundation::Value;

std::vector<SeenRequest> ScriptedServer::requests() const {
    std::vector<SeenRequest> out;
    for (const std::string& line : m_server.requestLines()) {
        std::optional<Value> record = Value::fromJSON(line);
        if (!record) continue;
        SeenRequest seen;
        const std::string requestLine = *record->find("request_line")->string();
        const std::size_t space = requestLine.find(' ');
        seen.method = requestLine.substr(0, space);
        seen.path = requestLine.substr(space + 1, requestLine.rfind(' ') - space - 1);
        for (const Value& field : *record->find("headers")->array())
            seen.headers.emplace_back(*(*field.array())[0].string(), *(*field.array())[1].string());
        const std::string& hex = *record->find("body_hex")->string();
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            seen.body += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        out.push_back(std::move(seen));
    }
    return out;
}

bool ScriptedServer::waitForRequests(std::size_t count) const {
    return waitUntil([&] { return m_server.requestLines().size() >= count; });
}

bool waitUntil(const std::function<bool()>& done, double seconds) {
    const double end = plat::foundation::Clock::monotonicSeconds() + seconds;
    while (!done()) {
        if (plat::foundation::Clock::monotonicSeconds() > end) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void HeardLog::add(std::string line) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back(std::move(line));
    m_changed.notify_all();
}

std::vector<std::string> HeardLog::lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

std::vector<std::string> HeardLog::waitFor(std::size_t count) const {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_lines.size() >= count; });
    return m_lines;
}

void RecordingDelegate::requestDidFinish(orbad::OBCoreHTTPRequest& request) {
    m_log->add("finish " + std::to_string(request.responseStatusCode()) + " " + request.responseString());
}

void RecordingDelegate::requestDidFail(orbad::OBCoreHTTPRequest& request, const orbad::Error& error) {
    m_log->add("fail " + std::to_string(error.code) + " " + std::to_string(request.responseStatusCode()));
}

}  // namespace dktest
