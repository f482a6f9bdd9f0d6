// What reachability reports, as --net and the script's "net" command set it.
#pragma once

#include <string>

namespace plat::host {

// "wifi", "wwan" or "none".
void setNetOverride(const std::string& value);
// The last value set; empty when none was.
const std::string& netOverride();

}  // namespace plat::host
