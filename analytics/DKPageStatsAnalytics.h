// The page-view wrapper as the player reaches it: the client's own wrapper, whose trackAppInfo
// writes its "svc analytics trackAppInfo ..." trace line.
#pragma once

#include "analytics/wrappers/DKPageStatsAnalytics.h"
