// What every hit of a process shares: its hit id, and the parameters handed to the ad SDK.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class PSGlobalStore {
public:
    // Made at the first call (drawing the hit id from the client's random source); kept for the
    // process.
    static PSGlobalStore& sharedGlobalStore();

    // The decimal text of a 31-bit random number, the same for every hit of the process.
    const std::string& hitID() const { return m_hitID; }

    // "ga_hid", "ga_sid", "ga_vid", "ga_fc" (1) and "ga_wpids" when the tracker has all three ids;
    // an empty dictionary otherwise.
    plat::foundation::Value parameters(const std::optional<std::string>& accountID,
                                       const std::optional<std::string>& sessionID,
                                       const std::optional<std::string>& visitorID) const;

private:
    PSGlobalStore();
    PSGlobalStore(const PSGlobalStore&) = delete;
    PSGlobalStore& operator=(const PSGlobalStore&) = delete;

    std::string m_hitID;
};
