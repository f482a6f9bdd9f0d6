// The physics module inside a real engine state, driven by the headless host.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(PhysicsThroughTheEngine, CollisionCallbacksReachTheScript) {
    std::string command = std::string(DK_ENGINE_CLI) + " --frames 120 " + DK_TEST_DATA_DIR +
                          "/cli/collisions.lua " + DK_TEST_DATA_DIR + "/cli/Game 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    // The ball lands once on the ground's top (290) less its radius, then its destruction ends
    // the contact while the body no longer has its record.
    EXPECT_EQ(out, "began 1 2\nresting 280\nended -1 1\n");
}
