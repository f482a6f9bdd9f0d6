// The facts every analytics report carries: who made the game (the Info.plist's ids), how it was
// signed and on what device it runs.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace plat::foundation {
class Bundle;
}

class DKAnalyticsInfo {
public:
    using Data = std::map<std::string, std::string>;

    DKAnalyticsInfo() = default;
    explicit DKAnalyticsInfo(Data data) : m_analyticsData(std::move(data)) {}
    virtual ~DKAnalyticsInfo() = default;

    const Data& getAnalyticsData() const { return m_analyticsData; }
    const Data& analyticsData() const { return m_analyticsData; }
    void setAnalyticsData(Data data) { m_analyticsData = std::move(data); }
    // The entry's value; null when the entry is left out.
    const std::string* value(std::string_view key) const;

private:
    Data m_analyticsData;
};

class DKAnalyticsIOSInfo : public DKAnalyticsInfo {
public:
    // From the main bundle and this run's device facts.
    DKAnalyticsIOSInfo();
    // From `bundle` (may be null: no ids, an app-store build) and the hw.machine value `machine`.
    DKAnalyticsIOSInfo(const plat::foundation::Bundle* bundle, const std::string& machine);

    // The hw.machine value of the device facts.
    static std::string platform();
    // The marketing name of a known machine, the machine itself otherwise.
    static std::string platformString(const std::string& machine);
    // "appstore" without a profile, else by the profile's type; one that cannot be read is a
    // development build.
    static std::string profileType(const plat::foundation::Bundle* bundle);
};
