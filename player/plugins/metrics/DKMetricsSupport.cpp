#include "player/plugins/metrics/DKMetricsSupport.h"

#include "analytics/TrackwellSession.h"
#include "player/bridge/DKExternalFunctionTable.h"

void DKMetricsSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKMetricsSupport>(), gameViewController(), &DKMetricsSupport::trackSceneChange, "TrackSceneChange");
}

void DKMetricsSupport::trackSceneChange(DKGameViewController*, std::optional<std::string> from,
                                        std::optional<std::string> to) {
    TrackwellSession::Attributes attributes;
    if (from) {
        attributes.emplace("ps", std::move(*from));
        if (to) attributes.emplace("ns", std::move(*to));
    }
    TrackwellSession::sharedTrackwellSession().tagEvent(DKChangeSceneKey, attributes);
}
