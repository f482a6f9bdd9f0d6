#include "analytics/wrappers/DKAnalyticsInfo.h"

#include <optional>
#include <utility>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/util/DKProvisioningProfile.h"

const std::string* DKAnalyticsInfo::value(std::string_view key) const {
    auto it = m_analyticsData.find(std::string(key));
    return it == m_analyticsData.end() ? nullptr : &it->second;
}

DKAnalyticsIOSInfo::DKAnalyticsIOSInfo() : DKAnalyticsIOSInfo(plat::foundation::Bundle::main(), platform()) {}

DKAnalyticsIOSInfo::DKAnalyticsIOSInfo(const plat::foundation::Bundle* bundle, const std::string& machine) {
    Data data;
    if (bundle)
        for (const char* key : {"DKUserID", "DKAppID", "DKReleaseID"})
            if (const plat::foundation::Value* v = bundle->infoValue(key); v && v->string())
                data.emplace(key, *v->string());
    data.emplace("profileType", profileType(bundle));
    // An empty machine is a value the device did not give: the entry is left out.
    if (std::string model = platformString(machine); !model.empty()) data.emplace("Model", std::move(model));
    setAnalyticsData(std::move(data));
}

std::string DKAnalyticsIOSInfo::platform() {
    return plat::foundation::deviceFacts().machine;
}

std::string DKAnalyticsIOSInfo::platformString(const std::string& machine) {
    static const std::map<std::string, std::string, std::less<>> kModels = {
        {"iPhone1,1", "iPhone_1G"},    {"iPhone1,2", "iPhone_3G"},        {"iPhone2,1", "iPhone_3GS"},
        {"iPhone3,1", "iPhone_4"},     {"iPhone3,3", "Verizon_iPhone_4"}, {"iPhone4,1", "iPhone_4S"},
        {"iPod1,1", "iPod_Touch_1G"},  {"iPod2,1", "iPod_Touch_2G"},      {"iPod3,1", "iPod_Touch_3G"},
        {"iPod4,1", "iPod_Touch_4G"},  {"iPad1,1", "iPad"},               {"iPad2,1", "iPad_2_WiFi"},
        {"iPad2,2", "iPad_2_GSM"},     {"iPad2,3", "iPad_2_CDMA"},        {"i386", "Simulator"},
        {"x86_64", "Simulator"},
    };
    auto it = kModels.find(machine);
    return it == kModels.end() ? machine : it->second;
}

std::string DKAnalyticsIOSInfo::profileType(const plat::foundation::Bundle* bundle) {
    std::optional<std::string> path = bundle ? bundle->pathForResource("embedded", "mobileprovision") : std::nullopt;
    if (!path) return "appstore";
    std::optional<DKProvisioningProfile> profile = DKProvisioningProfile::createWithContentsOfFile(*path);
    switch (profile ? profile->type() : DKProvisioningProfileTypeDevelopment) {
        case DKProvisioningProfileTypeAppStore: return "appstore";
        case DKProvisioningProfileTypeAdHoc: return "adhoc";
        default: return "development";
    }
}
