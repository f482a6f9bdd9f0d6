// A Lua state with the "scenegraph" module (and the sound manager module) open, render managers
// that record instead of drawing, and chunks run with their results as text.
#pragma once

#include <gtest/gtest.h>
#include <lua.hpp>

#include <cstdio>
#include <string>

#include "engine/sglua/SGLuaModule.h"
#include "engine/sound/wrap_SoundManager.h"
#include "scenegraph/tests/RecordingRenderManager.h"
#include "tests/support/TestSupport.h"

class SGLuaTest : public ::testing::Test {
protected:
    void SetUp() override {
        L = luaL_newstate();
        luaL_openlibs(L);
        luaopen_soundManager(L);
        lua_pop(L, 1);
        luaopen_scenegraph(L);
        // err(f, ...): the message of the error f raises, without its position prefix.
        run("function err(f, ...) local ok, m = pcall(f, ...) "
            "return ok and 'no error' or (tostring(m):gsub('^[^:]*:%d+: ', '')) end");
    }
    void TearDown() override {
        run("if scene then pcall(scene.delete, scene) end");  // scenes live until deleted
        lua_close(L);
    }

    std::string run(const std::string& chunk) { return dktest::runLua(L, chunk); }

    // run(chunk) with standard output captured into `printed`.
    std::string runCapturing(const std::string& chunk, std::string* printed) {
        ::testing::internal::CaptureStdout();
        std::string result = run(chunk);
        std::fflush(stdout);
        *printed = ::testing::internal::GetCapturedStdout();
        return result;
    }

    RecordingRenderers renderers;
    lua_State* L = nullptr;
};
