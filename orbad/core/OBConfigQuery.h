// The query of the configuration request: what the device, the application and the session
// counters report, in the server's order, each component ending in "&".
#pragma once

#include <string>
#include <string_view>

namespace orbad {

class OBEnvironment;
class OBSessionTracking;

// Bytes a query component cannot hold as they are (space, `" # % & + < > \ ^ ` { | }`, controls,
// non-ASCII) as upper-case %XX; anything else, ordinary values included, byte for byte.
std::string obQueryComponent(std::string_view value);

// "?a=...&p=...&...&" for `systemVersion`. Clears the tracker's first run once reported, and on
// systems below 6.0 records the device identifier as the original one when none is kept yet.
std::string configurationQuery(const OBEnvironment& environment, OBSessionTracking& tracking,
                               const std::string& systemVersion);

}  // namespace orbad
