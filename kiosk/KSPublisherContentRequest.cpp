#include "kiosk/KSPublisherContentRequest.h"

#include "platform/foundation/RunLoop.h"

using plat::foundation::RunLoop;

const plat::foundation::TraceCategory& kioskTrace() {
    static plat::foundation::TraceCategory category("svc");
    return category;
}

KSPublisherContentRequest::KSPublisherContentRequest(std::string token, std::string secret, std::string placement)
    : m_token(std::move(token)), m_secret(std::move(secret)), m_placement(std::move(placement)) {}

KSPublisherContentRequest::~KSPublisherContentRequest() { RunLoop::main().cancelPerforms(this); }

void KSPublisherContentRequest::send() {
    plat::foundation::trace(kioskTrace(), [&] { return "kiosk content " + m_placement; });
    RunLoop::main().performAfter(0, this, [this] {
        if (!m_delegate) return;
        plat::foundation::Error error{"KSPublisherErrorDomain", 1, "content unavailable: no content service", {}};
        m_delegate->requestDidFail(*this, error);
    });
}
