// Scene changes and events reported to the metrics client. For now its identifier alone: it registers no
// actions yet.
#pragma once

#include "player/plugins/DKPluginSupport.h"

class DKMetricsSupport : public DKPluginSupport {
public:
    using DKPluginSupport::DKPluginSupport;
    static const char* pluginIdentifier() { return "metrics"; }
};
