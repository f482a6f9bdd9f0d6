// The content-ads session open, sent on every activation: it reports the device identifiers and
// the time in game, keeps the session string the server returns and precaches what it names.
//
// The first use installs SDURLCache (1 MiB memory, 10 MiB disk) as the shared cache. The request
// sends "d_custom", "d_odid" (SharedUDID), "d_mac" (the facts' MAC, unless opted out), "scount" and
// "ssum", then starts a game session. On an object answer it precaches each "precache" address
// (cache first, 10 s of real time, 1 MB a body: a tenth of the cache's disk), stores "session",
// tells the delegate and resets the time in game; any other answer leaves the counters.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "kiosk/KSAPIRequest.h"

class KSPublisherOpenRequest : public KSAPIRequest {
public:
    // Also installs the client's URL cache as the shared one, the first time.
    static std::shared_ptr<KSPublisherOpenRequest> requestForApp(std::string token, std::string secret);
    KSPublisherOpenRequest(std::string token, std::string secret);

    const char* className() const override { return "KSPublisherOpenRequest"; }
    const std::optional<std::string>& customUDID() const { return m_customUDID; }
    void setCustomUDID(std::optional<std::string> udid) { m_customUDID = std::move(udid); }

    // Asynchronous; the parameters are read now, then a game session starts.
    void send() override;

protected:
    std::string urlPath() const override;
    KSJsonObject additionalParameters() const override;
    void didSucceedWithResponse(const KSJsonValue* response) override;

private:
    std::optional<std::string> m_customUDID;
};

// The Wi-Fi interface's hardware address as 12 lower-case hex digits; nothing when there is none.
std::optional<std::string> getMACAddress();
