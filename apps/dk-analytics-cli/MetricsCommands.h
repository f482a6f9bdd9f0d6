// dk-analytics-cli's `metrics ...` commands: the metrics session driven a line at a time.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/trackwell/TrackwellSession.h"

namespace dk::tools::analyticscli {

// One argument of a metrics line: a word, a decoded JSON string, or a JSON object's text.
struct MetricsArg {
    std::string text;
    bool quoted = false;
    bool object = false;
};

// A flat JSON object as attributes in the text's order: strings stay text, numbers stay numbers,
// true and false are flags. Nothing, with `error` set, for anything else.
std::optional<TrackwellSession::Attributes> orderedAttributes(std::string_view json, std::string& error);

// Runs `metrics <args>`; each line of its answer goes to `print` (tag-many answers once per tag).
void runMetrics(const std::vector<MetricsArg>& args, const std::function<void(const std::string&)>& print);

}  // namespace dk::tools::analyticscli
