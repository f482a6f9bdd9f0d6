#include "kiosk/KSPublisherOpenRequest.h"

#include "kiosk/KSPublisherContentRequest.h"

void KSPublisherOpenRequest::send() {
    plat::foundation::trace(kioskTrace(), [&] { return "kiosk open " + m_token; });
}
