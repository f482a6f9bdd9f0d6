// How this layer reports: trace lines and notifications belong to the foundation, which stands
// above it, so the device and the audio session report through hooks that the ui layer connects
// when an application is made. Unconnected, nothing is reported.
#pragma once

#include <functional>
#include <string_view>

namespace plat::sys {

struct ReportHooks {
    // One trace line `text` in `category`.
    std::function<void(std::string_view category, std::string_view text)> trace;
    // A notification `name` from `sender`, an object of class `className`.
    std::function<void(const char* name, const void* sender, const char* className)> post;
};

// Set on the main thread before the objects that report are used.
void setReportHooks(ReportHooks hooks);
void reportTrace(std::string_view category, std::string_view text);
void reportPost(const char* name, const void* sender, const char* className);

}  // namespace plat::sys
