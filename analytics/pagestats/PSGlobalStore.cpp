#include "analytics/pagestats/PSGlobalStore.h"

#include "analytics/trackwell/TrackwellEnvironment.h"

using plat::foundation::Value;

PSGlobalStore& PSGlobalStore::sharedGlobalStore() {
    static PSGlobalStore* shared = new PSGlobalStore;  // kept for the process
    return *shared;
}

PSGlobalStore::PSGlobalStore() : m_hitID(std::to_string(dk::trackwell::random32() & 0x7FFFFFFF)) {}

Value PSGlobalStore::parameters(const std::optional<std::string>& accountID,
                                const std::optional<std::string>& sessionID,
                                const std::optional<std::string>& visitorID) const {
    Value::Dictionary out;
    if (accountID && sessionID && visitorID) {
        out["ga_hid"] = Value(m_hitID);
        out["ga_sid"] = Value(*sessionID);
        out["ga_vid"] = Value(*visitorID);
        out["ga_fc"] = Value(1);
        out["ga_wpids"] = Value(*accountID);
    }
    return Value(std::move(out));
}
