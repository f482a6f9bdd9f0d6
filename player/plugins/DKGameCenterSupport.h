// Game Center: scores, achievements and the player's account. For now its identifier and the
// network's presence: it registers no actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKGameCenterSupport : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "gameCenter"; }

    // YES only when the class look-up answers YES for "GKLocalPlayer": the container holds the
    // local game network's configuration. Asked afresh at every call.
    static bool isGameCenterAvailable();
};
