// Game Center: scores, achievements and the player's account. For now its identifier alone: it registers no
// actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKGameCenterSupport : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "gameCenter"; }
};
