// A bare Lua state with the physics module open, and Lua helpers that build worlds in few lines.
#pragma once

#include <gtest/gtest.h>
#include <lua.hpp>

#include <string>

#include "engine/physics/PhysicsModule.h"
#include "tests/support/TestSupport.h"

class PhysicsTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Runs a chunk; a Lua error fails the test.
    void run(const std::string& code);
    // Runs a chunk and returns what it wrote to standard output (the module's reports).
    std::string reports(const std::string& code);
    double number(const std::string& expression);
    std::string string(const std::string& expression);
    bool boolean(const std::string& expression) { return string(expression) == "true"; }

    dktest::LuaState L{luaopen_physics, "physics"};
};

// Matches one report line "file:line assertion failed EXPRESSION".
std::string reportPattern(const std::string& expression);
