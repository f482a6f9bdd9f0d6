// The page-view wrapper: the process's one report path to the page-view tracker. Each call returns
// at once; a tracker error goes to standard error ("DKAnalytics <report>: ...") and never to
// the caller. The shared tracker starts with kAccountID, kDispatchPeriod and no delegate, custom
// variable 1 "Model" set in the session scope: the collectors expect the model on each process's
// first page view only.
#pragma once

#include <string>

#include "analytics/wrappers/DKAnalytics.h"

struct PSError;

class DKPageStatsAnalytics : public DKAnalytics {
public:
    static constexpr const char* kAccountID = "UA-48302917-3";
    static constexpr int kDispatchPeriod = 10;
    // The user-defaults counter of purchases, kept across launches.
    static constexpr const char* kOrderIdKey = "inAppOrderIdPageStats";

    // Made on first use over the main bundle's and the device's facts; started at once. A second
    // start in the process on another home or with another game has one of its own, and the
    // tracker starts again on that home's store.
    static DKPageStatsAnalytics& sharedAnalytics();

    void initTrackingEngine() override;
    // One page view "/profileType/DKUserID/DKAppID/DKReleaseID/event" ("(null)" for a missing entry).
    void trackAppInfo(const std::string& event) override;
    void trackEvent(const std::string& category, const std::string& action,
                            const std::optional<std::string>& label,
                    int value) override;
    void trackInAppPurchase(const std::string& a, const std::string& b, const std::string& c) override;
    void stopTracking() override;

    // The text a tracker error is described with.
    static std::string describe(const PSError& error);

private:
    DKPageStatsAnalytics() = default;
};
