#include "orbad/tests/OrbadTestSupport.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "orbad/core/OBConfig.h"
#include "orbad/core/OBSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/Pasteboard.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/net/Reachability.h"
#include "platform/net/Servers.h"

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

void OrbadClientTest::SetUp() {
    using namespace plat::foundation;
    Clock::process().setVirtual(true);
    orbad::setStartWallTime(1700000000);
    info({});
    facts({});
    Pasteboard::setDirectory(m_dir.file("boards"));
    m_container = Container::open("com.test.player", m_dir.file("home"));
    Container::setMain(*m_container);
    // The standard defaults outlive a test: the client's keys start afresh.
    if (UserDefaults* defaults = UserDefaults::standard())
        for (const char* key : {"OBConfigFreq", "OBLastSystemVersion", "kOrbadLastRanVersion"})
            defaults->removeObjectForKey(key);
    plat::net::setNetOverride(plat::net::parseNetOverride("wifi"));
}

void OrbadClientTest::TearDown() {
    turnUntil([] { return orbad::OBCoreHTTPRequest::inFlightCount() == 0; });
    plat::foundation::setDeviceFactsFile("");
    plat::net::setNetOverride(std::nullopt);
    for (const char* name : orbad::kOrbadServerNames) plat::net::setServerBaseOverride(name, "");
    orbad::OBSession::shutdown();
}

void OrbadClientTest::info(Value::Dictionary extra) {
    using namespace plat::foundation;
    Value::Dictionary entries{{"CFBundleExecutable", "PlayerTest"}, {"CFBundleVersion", "1.0.3"}};
    for (auto& [key, value] : extra) entries[key] = value;
    std::filesystem::create_directories(m_dir.file("PlayerTest.app"));
    ASSERT_TRUE(writePropertyList(m_dir.file("PlayerTest.app/Info.plist"), Value(std::move(entries)),
                                  PropertyListFormat::Xml));
    Bundle::setMain(*Bundle::open(m_dir.file("PlayerTest.app")));
}

void OrbadClientTest::facts(Value::Dictionary changes) {
    using namespace plat::foundation;
    Value::Dictionary all{{"machine", "iPhone4,1"},        {"systemVersion", "6.1"},
                          {"macAddress", "00:1a:2b:3c:4d:5e"}, {"advertisingIdentifier", kTestAdvertisingId},
                          {"timeZone", "Europe/Berlin"},   {"languages", Value::Array{"fr", "en"}},
                          {"locale", "fr_FR"}};
    for (auto& [key, value] : changes) all[key] = value;
    ASSERT_TRUE(writePropertyList(m_dir.file("facts.plist"), Value(std::move(all)), PropertyListFormat::Xml));
    setDeviceFactsFile(m_dir.file("facts.plist"));
}

bool OrbadClientTest::turnUntil(const std::function<bool()>& done) {
    const double end = plat::foundation::Clock::monotonicSeconds() + 10;
    while (!done()) {
        if (plat::foundation::Clock::monotonicSeconds() > end) return false;
        plat::foundation::RunLoop::main().runOnce(0.001);
    }
    return true;
}

}  // namespace dktest
