// The ad-unit table of the configuration: one entry per size, from the answer's "ad_units".
#include "orbad/core/OBConfig.h"

namespace orbad {

// Seam for the per-size settings and the open-allocation lookups, which build on this file; until
// then no unit is kept (the cache still holds the whole answer).
void OBConfig::addAdUnit(const plat::foundation::Value&) {}

}  // namespace orbad
