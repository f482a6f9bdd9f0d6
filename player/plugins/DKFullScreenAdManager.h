// Interstitial ads. For now its identifier alone: it registers no actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKFullScreenAdManager : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "fullscreenadmanager"; }
};
