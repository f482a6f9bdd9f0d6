// The one place that knows where the outside servers are.
#pragma once

#include <string>
#include <string_view>

namespace plat::net {

// The base URL of the server called `name`: its entry in the property list that DROVIK_SERVERS
// names (a dictionary of names to base-URL strings), else `fallback`. Every client asks here for
// each server it talks to, so tests point them all at 127.0.0.1 with one file. The file is read
// once per path; one that cannot be read or is no dictionary, or an entry that is no string, is
// reported once on standard error and the fallback used.
std::string serverBase(std::string_view name, std::string_view fallback);

}  // namespace plat::net
