// Turns an event into the request path of its hit: the GIF beacon with its "utm" parameters, the
// x10 text of custom variables, the visitor cookie and the time the hit was built.
//
// Times are the metrics client's wall time (it follows the run loop's clock) and random numbers its
// seedable source; the device is read once, when the builder is made.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analytics/pagestats/PSRecords.h"
#include "platform/sys/DeviceFacts.h"

class PSHitBuilder {
public:
    // What the hits say of the device: screen in points (portrait), language and country.
    struct Device {
        int width = 0;
        int height = 0;
        std::string language;
        std::string country;
        static Device fromFacts(const plat::sys::DeviceFacts& facts);
    };

    // The device of this run's device facts.
    PSHitBuilder();
    explicit PSHitBuilder(Device device) : m_device(std::move(device)) {}

    const std::string& accountID() const { return m_accountID; }
    void setAccountID(std::string accountID) { m_accountID = std::move(accountID); }

    // The stored hit string: the kind's part by the event's category, the cookie, "&aip=1" when
    // the event asks it, and the build time.
    std::string constructHitRequestPath(const PSEvent& event, const PSReferrer* referrer) const;
    std::string constructPageviewRequestPath(const PSEvent& event) const;
    std::string constructEventRequestPath(const PSEvent& event) const;
    std::string constructTransactionRequestPath(const PSEvent& event) const;
    std::string constructItemRequestPath(const PSEvent& event) const;

    // Projects 8 (names), 9 (values) and 11 (scopes); "" without variables.
    std::string customVariableParamsForEvent(const PSEvent& event) const;
    static std::string x10ProjectForProjectNumber(int project, const PSCustomVariableBuffer& variables);
    static std::string x10Escape(std::string_view text);

    static std::string getEscapedCookieString(const PSEvent& event, const PSReferrer* referrer);

    static std::string encodeString(const std::optional<std::string>& text);
    static std::string encodeInt(int value);
    static std::string encodeDouble(double value);

private:
    // "/__utm.gif?utmwv=4.7mi&utmn=<random>": what every kind begins with.
    static std::string head(const PSEvent& event);
    std::string deviceParams() const;

    std::string m_accountID;
    Device m_device;
};
