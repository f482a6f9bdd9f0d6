// The physics module inside a real engine state, driven by the headless host.
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

TEST(PhysicsThroughTheEngine, CollisionCallbacksReachTheScript) {
    auto r = dktest::runProcess({DK_ENGINE_CLI, "--frames", "120", DK_TEST_DATA_DIR "/cli/collisions.lua",
                                 DK_TEST_DATA_DIR "/cli/Game"});
    EXPECT_EQ(r.status, 0) << r.err;
    // The ball lands once on the ground's top (290) less its radius, then its destruction ends
    // the contact while the body no longer has its record.
    EXPECT_EQ(r.out, "began 1 2\nresting 280\nended -1 1\n");
}
