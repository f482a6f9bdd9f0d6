#include "orbad/core/OrbadInstrumentation.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "orbad/core/OBConfig.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OBReporting.h"
#include "orbad/core/OBSession.h"
#include "orbad/core/OrbadHelper.h"
#include "orbad/core/http/OBCoreHTTPRequest.h"
#include "platform/sys/Device.h"

namespace orbad {

namespace {

using plat::foundation::Date;

std::mutex g_mutex;
std::shared_ptr<OrbadInstrumentation> g_instance;

std::string groupOf(const std::string& path) {
    return path.substr(0, path.find('/'));
}

std::string trimmed(const std::string& text) {
    constexpr const char* kBlanks = " \t\n\r\v\f";
    const size_t first = text.find_first_not_of(kBlanks);
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

Value::Dictionary reportEnvironment(const OBReportingContext& context) {
    const plat::sys::Device& device = plat::sys::Device::current();
    Value::Dictionary environment{
        {"app_id", Value(context.applicationId)},
        {"platform", Value(OBEnvironment::platformName())},
        {"sdk_ver", Value(kOrbadLibraryVersion)},
        {"app_ver", Value(context.applicationVersion)},
        {"udide", Value(orbadEncode(OBEnvironment::deviceIdentifier()))},
        {"dev_model", Value(device.model())},
        {"dev_vers", Value(device.systemVersion())},
        {"hw_dev_model", Value(context.deviceType)},
        {"conn", Value(context.connectionType)},
    };
    if (obHasTrackingLimit()) environment.emplace("lt", Value(OBEnvironment::limitTracking() ? "1" : "0"));
    return environment;
}

}  // namespace

std::string obAppendPathComponent(const std::string& path, const std::string& component) {
    std::string joined = component.empty() ? path : path.empty() ? component : path + "/" + component;
    std::string out;
    for (char c : joined)
        if (c != '/' || out.empty() || out.back() != '/') out += c;
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::shared_ptr<OrbadInstrumentation> OrbadInstrumentation::currentInstrumentation() {
    std::lock_guard lock(g_mutex);
    if (!g_instance) g_instance = std::make_shared<OrbadInstrumentation>();
    return g_instance;
}

void OrbadInstrumentation::shutdown() {
    std::lock_guard lock(g_mutex);
    g_instance.reset();
}

std::optional<std::string> OrbadInstrumentation::startGroup(const std::optional<std::string>& group,
                                                            const std::optional<std::string>& tag) {
    if (!group) return std::nullopt;
    if (m_groups.contains(*group)) return group;
    const std::string sampled = tag && !tag->empty() ? *tag : *group;
    const int64_t attempts = m_startCounts[sampled]++;
    const long long frequency = OBConfig::debugTagFrequency(sampled);
    if (frequency < 0 || (frequency > 0 && attempts % frequency != 0)) return std::nullopt;
    m_groups.insert_or_assign(*group, Value(Value::Dictionary{{"benchmarks", Value(Value::Dictionary{})},
                                                              {"data", Value(Value::Dictionary{})},
                                                              {"startDate", Value(Date{wallNow()})}}));
    return group;
}

std::optional<std::string> OrbadInstrumentation::benchmarkStart(const std::optional<std::string>& name,
                                                                const std::optional<std::string>& path) {
    if (!name || !path || !hasPathStarted(path)) return std::nullopt;
    std::string benchmark = obAppendPathComponent(*path, *name);
    m_currentBenchmarks.insert_or_assign(benchmark, wallNow());
    return benchmark;
}

std::optional<std::string> OrbadInstrumentation::benchmarkFinishPath(const std::optional<std::string>& path) {
    if (!path || !hasPathStarted(path) || path->find('/') == std::string::npos) return std::nullopt;
    // Only a running benchmark has a start to measure from.
    auto running = m_currentBenchmarks.find(*path);
    if (running == m_currentBenchmarks.end()) return std::nullopt;
    char elapsed[64];
    std::snprintf(elapsed, sizeof elapsed, "%0.10f", wallNow() - running->second);
    m_currentBenchmarks.erase(running);
    const std::string group = groupOf(*path);
    (*m_groups[group].dictionary())["benchmarks"].dictionary()->insert_or_assign(*path,
                                                                                 Value(std::string(elapsed)));
    if (std::find(m_autoCloseGroups.begin(), m_autoCloseGroups.end(), group) != m_autoCloseGroups.end())
        finishGroup(group);
    const size_t slash = path->find_last_of('/');
    std::string parent = trimmed(path->substr(0, slash));
    if (parent.empty() || parent == "/") return std::nullopt;
    return parent;
}

void OrbadInstrumentation::addInfo(const std::optional<Value>& value,
                                   const std::optional<std::string>& description,
                                   const std::optional<std::string>& group) {
    if (!value || !description || !group) return;
    // A path names its group's entry: "load/x" writes into "load".
    auto entry = m_groups.find(groupOf(*group));
    if (entry == m_groups.end() || !entry->second.dictionary()) return;
    Value::Dictionary* data = (*entry->second.dictionary())["data"].dictionary();
    if (data) data->insert_or_assign(*description, *value);
}

void OrbadInstrumentation::finishGroup(const std::optional<std::string>& group) {
    if (!group || !m_groups.contains(*group)) return;
    if (!hasPathFinishedBenchmarks(group)) {
        if (std::find(m_autoCloseGroups.begin(), m_autoCloseGroups.end(), *group) == m_autoCloseGroups.end())
            m_autoCloseGroups.push_back(*group);
        return;
    }
    auto node = m_groups.extract(*group);
    std::erase(m_autoCloseGroups, *group);
    m_startCounts.erase(*group);
    Value::Dictionary& record = *node.mapped().dictionary();
    const double end = wallNow();
    record.insert_or_assign("endDate", Value(Date{end}));
    record.insert_or_assign("totalElapsedTime", Value(end - record["startDate"].date()->seconds));
    const std::optional<OBReportingContext> context = obReportingContext();
    if (!context) return;
    record.insert_or_assign("environment", Value(reportEnvironment(*context)));
    const std::optional<std::string> payload = OrbadJSON::encodeObject(node.mapped());
    if (!payload || !context->shouldSendOrbadDebugData) return;
    // No User-Agent of the client's own on these.
    auto request = OBCoreHTTPFormRequest::create(context->instrumentationURL);
    request->setPostValue(Value(*payload), "payload");
    request->setPostValue(Value(*group), "cat");
    request->setIgnoresResponseBody(true);
    request->startAsynchronous();
}

bool OrbadInstrumentation::hasPathStarted(const std::optional<std::string>& path) const {
    return path && m_groups.contains(groupOf(*path));
}

bool OrbadInstrumentation::hasPathFinishedBenchmarks(const std::optional<std::string>& group) const {
    if (!group) return false;
    const std::string prefix = *group + "/";
    return std::none_of(m_currentBenchmarks.begin(), m_currentBenchmarks.end(), [&](const auto& entry) {
        return entry.first == *group || entry.first.starts_with(prefix);
    });
}

}  // namespace orbad
