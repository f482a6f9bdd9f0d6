// The metrics session as the player reaches it: the client's own session, whose player calls
// (startSession, resume, close, upload, tagEvent) each write their "svc metrics ..." trace line.
#pragma once

#include "analytics/trackwell/TrackwellSession.h"
