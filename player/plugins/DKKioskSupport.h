// Full-screen units of the content-ads client. For now its identifier alone: it registers no actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKKioskSupport : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "kiosk"; }
};
