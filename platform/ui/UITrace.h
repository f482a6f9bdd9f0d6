// The ui layer's trace categories: "lifecycle" (application transitions), "ui" (rotations,
// presentations, the idle timer), "open" (the URL opener), "alert", "web" and "text".
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Log.h"

namespace plat::ui {

extern foundation::TraceCategory kTraceLifecycle;
extern foundation::TraceCategory kTraceUI;
extern foundation::TraceCategory kTraceOpen;
extern foundation::TraceCategory kTraceAlert;
extern foundation::TraceCategory kTraceWeb;
extern foundation::TraceCategory kTraceText;

// Text that came from a game or a player, fit for one trace line: control characters written as
// \n, \r, \t or \xHH, everything else as it is.
std::string traceable(std::string_view text);

}  // namespace plat::ui
