// A request for the content of one placement ("more_games"). Stand-in: shows nothing; `send`
// traces "svc kiosk content <placement>" and, on the turn after, reports requestDidFail to the
// delegate. A request destroyed first reports nothing.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"

class KSPublisherContentRequest;

class KSPublisherContentRequestDelegate {
public:
    virtual ~KSPublisherContentRequestDelegate() = default;
    virtual void requestWillGetContent(KSPublisherContentRequest&) {}
    virtual void requestDidDismiss(KSPublisherContentRequest&) {}
    virtual void requestDidFail(KSPublisherContentRequest&, const plat::foundation::Error&) {}
};

class KSPublisherContentRequest {
public:
    KSPublisherContentRequest(std::string token, std::string secret, std::string placement);
    ~KSPublisherContentRequest();
    KSPublisherContentRequest(const KSPublisherContentRequest&) = delete;
    KSPublisherContentRequest& operator=(const KSPublisherContentRequest&) = delete;

    const std::string& placement() const { return m_placement; }
    // Not owned; the delegate clears itself before it goes.
    void setDelegate(KSPublisherContentRequestDelegate* delegate) { m_delegate = delegate; }
    void send();

private:
    std::string m_token;
    std::string m_secret;
    std::string m_placement;
    KSPublisherContentRequestDelegate* m_delegate = nullptr;
};

// The client's trace category, "svc".
const plat::foundation::TraceCategory& kioskTrace();
