// What the client's reporters (instrumentation, demographics, feedback) read of the running
// client: its configuration's endpoints and debug capture flag, and its environment, as the
// controller holds them.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "orbad/core/OrbadJSON.h"

namespace orbad {

struct OBReportingContext {
    std::string instrumentationURL;
    std::string feedbackURL;
    bool shouldSendOrbadDebugData = false;
    // The environment's.
    std::string applicationId, applicationVersion, deviceType, connectionType;
};

// Where the context comes from, for tests; unset: the controller's (made when the Info.plist names
// the application), else there is no client to report to and reports are dropped.
using OBReportingSource = std::function<std::optional<OBReportingContext>()>;
void setOBReportingSource(OBReportingSource source);
std::optional<OBReportingContext> obReportingContext();

// True when the device's system version, read as a number, is 6.0 or more (tracking limits exist).
bool obHasTrackingLimit();

}  // namespace orbad
