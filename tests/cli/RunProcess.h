// Kept for the tests that include it by this name; the helpers live in tests/support.
#pragma once

#include "tests/support/TestSupport.h"
