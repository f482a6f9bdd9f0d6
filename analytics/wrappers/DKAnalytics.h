// The analytics wrapper: one back-end behind the five reports the player makes, built over the
// facts every report carries.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "analytics/wrappers/DKAnalyticsInfo.h"

class DKAnalytics {
public:
    virtual ~DKAnalytics() = default;

    // Keeps the info and starts the back-end. Call once, right after construction: a virtual
    // call from the constructor would not reach the back-end.
    void initWithAnalyticsInfo(std::shared_ptr<DKAnalyticsInfo> info) {
        m_analyticsInfo = std::move(info);
        initTrackingEngine();
    }

    virtual void initTrackingEngine() {}
    virtual void trackAppInfo(const std::string& event) { (void)event; }
    virtual void trackEvent(const std::string& category, const std::string& action,
                            const std::optional<std::string>& label,
                            int value) {
        (void)category, (void)action, (void)label, (void)value;
    }
    virtual void trackInAppPurchase(const std::string& a, const std::string& b, const std::string& c) {
        (void)a, (void)b, (void)c;
    }
    virtual void stopTracking() {}

    const std::shared_ptr<DKAnalyticsInfo>& analyticsInfo() const { return m_analyticsInfo; }
    void setAnalyticsInfo(std::shared_ptr<DKAnalyticsInfo> info) { m_analyticsInfo = std::move(info); }

protected:
    DKAnalytics() = default;

private:
    std::shared_ptr<DKAnalyticsInfo> m_analyticsInfo;
};

// A back-end nothing reports to: every report is dropped.
class DKFlurryAnalytics : public DKAnalytics {
public:
    static DKFlurryAnalytics& sharedAnalytics();

private:
    DKFlurryAnalytics() = default;
};
