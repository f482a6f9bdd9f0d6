#include "analytics/wrappers/DKPageStatsAnalytics.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analytics/pagestats/PSTracker.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

namespace {
plat::foundation::TraceCategory kSvc("svc");

void logError(const char* what, const PSError& error) {
    std::fprintf(stderr, "DKAnalytics %s: %s\n", what, DKPageStatsAnalytics::describe(error).c_str());
}
}  // namespace

DKPageStatsAnalytics& DKPageStatsAnalytics::sharedAnalytics() {
    // Never freed: the tracker's timer may still report at exit.
    struct Made {
        std::string home, bundle;
        DKPageStatsAnalytics* analytics;
    };
    static std::mutex mutex;
    static auto* made = new std::vector<Made>;
    const plat::foundation::Container* container = plat::foundation::Container::main();
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    Made now{container ? container->path() : "", bundle ? bundle->path() : "", nullptr};
    std::lock_guard lock(mutex);
    if (!made->empty() && made->back().home == now.home && made->back().bundle == now.bundle)
        return *made->back().analytics;
    // The tracker is the process's one: stopped, it starts again on the new home's store.
    if (!made->empty()) PSTracker::sharedTracker().stopTracker();
    now.analytics = new DKPageStatsAnalytics;
    now.analytics->initWithAnalyticsInfo(std::make_shared<DKAnalyticsIOSInfo>());
    made->push_back(std::move(now));
    return *made->back().analytics;
}

void DKPageStatsAnalytics::initTrackingEngine() {
    PSTracker& tracker = PSTracker::sharedTracker();
    tracker.startTrackerWithAccountID(kAccountID, kDispatchPeriod, nullptr);
    // Session scope on purpose: the collectors expect the model on each process's first page
    // view only, not on every visit.
    const std::string* model = analyticsInfo()->value("Model");
    tracker.setCustomVariableAtIndex(1, std::string("Model"), model ? std::optional(*model) : std::nullopt, 2);
}

void DKPageStatsAnalytics::trackAppInfo(const std::string& event) {
    plat::foundation::trace(kSvc, [&] { return "analytics trackAppInfo " + event; });
    std::string path;
    for (const char* key : {"profileType", "DKUserID", "DKAppID", "DKReleaseID"}) {
        const std::string* value = analyticsInfo()->value(key);
        (path += '/') += value ? *value : "(null)";
    }
    (path += '/') += event;
    PSError error;
    if (!PSTracker::sharedTracker().trackPageview(path, &error)) logError("trackPageView", error);
}

void DKPageStatsAnalytics::trackEvent(const std::string& category, const std::string& action,
                                      const std::optional<std::string>& label, int value) {
    PSError error;
    if (!PSTracker::sharedTracker().trackEvent(category, action, label, value, &error))
        logError("trackEvent", error);
}

void DKPageStatsAnalytics::trackInAppPurchase(const std::string& a, const std::string& b, const std::string& c) {
    plat::foundation::UserDefaults* defaults = plat::foundation::UserDefaults::standard();
    const std::int64_t n = (defaults ? defaults->integerForKey(kOrderIdKey) : 0) + 1;
    trackAppInfo("inAppPurchase-" + std::to_string(n) + "/" + a + "/" + b + "/" + c);
    if (defaults) {
        defaults->setInteger(n, kOrderIdKey);
        defaults->synchronize();
    }
}

void DKPageStatsAnalytics::stopTracking() {
    PSTracker::sharedTracker().stopTracker();
}

std::string DKPageStatsAnalytics::describe(const PSError& error) {
    return "The operation couldn't be completed. (" + error.domain + " error " + std::to_string(error.code) + ".)";
}

DKFlurryAnalytics& DKFlurryAnalytics::sharedAnalytics() {
    static DKFlurryAnalytics* analytics = [] {
        auto* made = new DKFlurryAnalytics;
        made->initWithAnalyticsInfo(std::make_shared<DKAnalyticsIOSInfo>());
        return made;
    }();
    return *analytics;
}
