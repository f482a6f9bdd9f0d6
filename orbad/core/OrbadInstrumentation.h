// Measures named stretches of work ("benchmarks") under a named group, attaches data to the group,
// and, when the group finishes and the server has debug capture on, posts it with a description of
// the device to the configuration's instrumentation URL. Which groups start is sampled per tag with
// the frequencies the server sent ("debug_config", kept in the user defaults as "OBConfigFreq").
//
// A benchmark path is the group name followed by benchmark names, joined with "/"; its group is
// its first component. Main thread only (the instance is made under a lock).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/core/OrbadJSON.h"

namespace orbad {

// `path` extended by `component` as file paths join: one "/" between, repeated and trailing ones
// dropped; an empty component leaves the path as it is.
std::string obAppendPathComponent(const std::string& path, const std::string& component);

class OrbadInstrumentation {
public:
    static std::shared_ptr<OrbadInstrumentation> currentInstrumentation();
    static void shutdown();

    // The group's name when it runs (now or already), nullopt when sampling leaves it out. The
    // tag (the group's name when empty or absent) is what is sampled: with frequency f the 1st,
    // (f+1)th, (2f+1)th... attempt starts, every attempt with 0, none without a frequency.
    std::optional<std::string> startGroup(const std::optional<std::string>& group,
                                          const std::optional<std::string>& tag = std::nullopt);
    // Starts the benchmark `name` under `path` (whose group runs); its path.
    std::optional<std::string> benchmarkStart(const std::optional<std::string>& name,
                                              const std::optional<std::string>& path);
    // Ends the running benchmark at `path`, records "%0.10f" of its seconds, finishes a group
    // waiting for it, and returns the parent path (nullopt when that is only "/" or empty).
    std::optional<std::string> benchmarkFinishPath(const std::optional<std::string>& path);
    void addInfo(const std::optional<Value>& value, const std::optional<std::string>& description,
                 const std::optional<std::string>& group);
    // Reports the group, or, while some benchmark of it runs, once the last of them ends.
    void finishGroup(const std::optional<std::string>& group);
    bool hasPathStarted(const std::optional<std::string>& path) const;
    bool hasPathFinishedBenchmarks(const std::optional<std::string>& group) const;

private:
    Value::Dictionary m_groups;
    std::map<std::string, double> m_currentBenchmarks;  // path to its start (seconds since 1970)
    std::vector<std::string> m_autoCloseGroups;
    std::map<std::string, int64_t> m_startCounts;
};

}  // namespace orbad
