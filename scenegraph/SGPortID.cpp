#include "scenegraph/SGPortID.h"

namespace {

constexpr const char* kPortNames[] = {
#define SG_PORT_ID_NAME(id) #id,
    SG_PORT_IDS(SG_PORT_ID_NAME)
#undef SG_PORT_ID_NAME
};
static_assert(std::size(kPortNames) == SGPortIDCount);

}  // namespace

const std::map<std::string, SGPortID>& SGPortNameMap() {
    static const std::map<std::string, SGPortID> map = [] {
        std::map<std::string, SGPortID> m;
        for (int i = 0; i < SGPortIDCount; ++i) m.emplace(kPortNames[i], static_cast<SGPortID>(i));
        return m;
    }();
    return map;
}

std::optional<SGPortID> SGPortIDForName(const std::string& name) {
    const auto& map = SGPortNameMap();
    auto it = map.find(name);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

const char* SGPortNameForID(SGPortID id) {
    int i = static_cast<int>(id);
    return (i >= 0 && i < SGPortIDCount) ? kPortNames[i] : "";
}
