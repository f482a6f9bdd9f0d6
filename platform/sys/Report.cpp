#include "platform/sys/Report.h"

namespace plat::sys {

namespace {
ReportHooks& hooks() {
    static ReportHooks h;
    return h;
}
}  // namespace

void setReportHooks(ReportHooks h) {
    hooks() = std::move(h);
}

void reportTrace(std::string_view category, std::string_view text) {
    if (hooks().trace) hooks().trace(category, text);
}

void reportPost(const char* name, const void* sender, const char* className) {
    if (hooks().post) hooks().post(name, sender, className);
}

}  // namespace plat::sys
