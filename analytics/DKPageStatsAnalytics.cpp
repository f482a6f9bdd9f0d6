#include "analytics/DKPageStatsAnalytics.h"

#include <string>

#include "platform/foundation/Log.h"

namespace {
plat::foundation::TraceCategory kSvc("svc");
}

DKPageStatsAnalytics& DKPageStatsAnalytics::sharedAnalytics() {
    static DKPageStatsAnalytics analytics;
    return analytics;
}

void DKPageStatsAnalytics::trackAppInfo(std::string_view page) {
    plat::foundation::trace(kSvc, [&] { return "analytics trackAppInfo " + std::string(page); });
}
