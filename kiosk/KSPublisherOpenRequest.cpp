#include "kiosk/KSPublisherOpenRequest.h"

#include "platform/foundation/Log.h"

namespace {
plat::foundation::TraceCategory kSvc("svc");
}

std::shared_ptr<KSPublisherOpenRequest> KSPublisherOpenRequest::requestForApp(std::string token, std::string secret) {
    return std::make_shared<KSPublisherOpenRequest>(Token{}, std::move(token), std::move(secret));
}

KSPublisherOpenRequest::KSPublisherOpenRequest(Token, std::string token, std::string secret)
    : m_token(std::move(token)), m_secret(std::move(secret)) {}

void KSPublisherOpenRequest::send() {
    // The secret signs requests; it never appears in a trace.
    plat::foundation::trace(kSvc, [&] { return "kiosk open " + m_token; });
}
