// Full-screen units of the ad network client. For now its identifier alone: it registers no actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKDrovikNetworkSupport : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "drovikNetwork"; }
};
