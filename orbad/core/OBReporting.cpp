#include "orbad/core/OBReporting.h"

#include <mutex>

#include "platform/sys/Device.h"

namespace orbad {

namespace {

std::mutex g_mutex;
OBReportingSource g_source;

}  // namespace

void setOBReportingSource(OBReportingSource source) {
    std::lock_guard lock(g_mutex);
    g_source = std::move(source);
}

std::optional<OBReportingContext> obReportingContext() {
    OBReportingSource source;
    {
        std::lock_guard lock(g_mutex);
        source = g_source;
    }
    return source ? source() : std::nullopt;
}

bool obHasTrackingLimit() {
    return plat::sys::Device::current().systemVersionFloat() >= 6.0f;
}

}  // namespace orbad
