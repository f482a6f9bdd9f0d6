// Scene changes reported to the metrics session: the script's "TrackSceneChange".
//
// The record is "sceneChange" with "ps" and "ns" up to the first missing name.
#pragma once

#include <optional>
#include <string>

#include "player/plugins/DKPluginSupport.h"

inline constexpr const char* DKChangeSceneKey = "sceneChange";

class DKMetricsSupport : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "metrics"; }

    // "TrackSceneChange": tags "sceneChange" with "ps" (previous) and "ns" (new); the attributes
    // end at the first missing one, so without a previous scene there are none. An empty name is
    // present.
    void trackSceneChange(DKGameViewController*, std::optional<std::string> from, std::optional<std::string> to);

protected:
    void registerActions(lua_State* L) override;
};
