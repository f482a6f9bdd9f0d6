#include "platform/host/NetOverride.h"

namespace plat::host {

namespace {
std::string g_override;
}

// HOOK(net override): platform/net's reachability reads its override from there once it is
// built; until then the value is kept here for it.
void setNetOverride(const std::string& value) {
    g_override = value;
}

const std::string& netOverride() {
    return g_override;
}

}  // namespace plat::host
