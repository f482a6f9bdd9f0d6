// Classes "looked up by name": whether a phone service's class exists on this machine. The
// stand-ins of those services register their class names, each with what decides its presence
// (mostly whether the service's configuration file exists, which the foundation reads: this layer
// cannot); a name nobody registered is absent.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace plat::sys {

// `present` is asked at every look-up, so a service may come and go while the process runs. A
// second registration of a name replaces the first.
void registerClass(std::string name, std::function<bool()> present);
void unregisterClass(std::string_view name);
bool hasClass(std::string_view name);

}  // namespace plat::sys
