// The device facts of this run: what the machine says (plat::sys::DeviceFacts), the advertising
// identifier (an upper-case UUID kept in the container's Library/AdSupport/), and a property list
// that overrides any of them (setDeviceFactsFile, a tool's --device-facts, else DROVIK_DEVICE_FACTS).
#pragma once

#include <string>

#include "platform/foundation/Error.h"
#include "platform/sys/DeviceFacts.h"

namespace plat::foundation {

class Value;

// The overrides file: set by a tool's --device-facts, else $DROVIK_DEVICE_FACTS. An empty path
// returns to the environment's.
void setDeviceFactsFile(std::string path);

// plat::sys::systemDeviceFacts(), the advertising identifier of the main container (an upper-case
// UUID made at the first ask and kept in Library/AdSupport/advertisingIdentifier; one per process
// without a main container), then the entries of the overrides file: machine, model, systemName,
// systemVersion, screenWidth, screenHeight, languages (array of strings), locale, macAddress,
// advertisingIdentifier ("" = none), advertisingTrackingEnabled, freeMemory, idiom ("phone" or
// "pad"), screenScale, batteryLevel (-1 or 0 to 1), batteryState (0-3), timeZone. A file that cannot
// be read, or an entry of the wrong type, is reported once on standard error and left out.
plat::sys::DeviceFacts deviceFacts();

// Applies the entries of `overrides` (a dictionary) to `facts`; false, naming the first entry of
// the wrong type in `error`, when one is refused (the others still apply).
bool applyDeviceFactsOverrides(const Value& overrides, plat::sys::DeviceFacts& facts, Error* error = nullptr);

}  // namespace plat::foundation
