#include "orbad/Orbad.h"

#include <string>

#include "platform/foundation/Log.h"

namespace {
plat::foundation::TraceCategory kSvc("svc");
}

void Orbad::startWithApplicationId(std::string_view applicationId) {
    plat::foundation::trace(kSvc, [&] { return "orbad start " + std::string(applicationId); });
}
