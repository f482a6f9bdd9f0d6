// The ui layer's trace categories: "lifecycle" (application transitions) and "ui" (rotations,
// presentations, the idle timer, opened URLs).
#pragma once

#include "platform/foundation/Log.h"

namespace plat::ui {

extern foundation::TraceCategory kTraceLifecycle;
extern foundation::TraceCategory kTraceUI;

}  // namespace plat::ui
