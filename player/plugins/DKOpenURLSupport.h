// Opens URLs and in-application web pages for the script. For now its identifier alone: it registers no
// actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKOpenURLSupport : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "openUrl"; }
};
