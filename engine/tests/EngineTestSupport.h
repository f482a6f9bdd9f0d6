// An engine state on a script (data/recorder.lua unless told otherwise) saving to `save` (a
// scratch folder) or, given "", nowhere; reopened as often as a test likes, destroyed at its end.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/DKEngine.h"
#include "tests/support/TestSupport.h"

namespace dktest {

class EngineTest : public testing::Test {
protected:
    void TearDown() override { close(); }
    void open(const std::string& save, const std::string& script = DK_TEST_DATA_DIR "/recorder.lua") {
        close();
        state = DK_NewState(1);
        DK_Init(state, script.c_str(), save.empty() ? nullptr : save.c_str());
    }
    void close() {
        if (state) DK_DestroyState(state);
        state = nullptr;
    }
    std::string run(const std::string& chunk) { return runLua(state->L, chunk); }

    TempDir dir;
    std::string save = dir.path() + "/";
    DK_State* state = nullptr;
};

}  // namespace dktest
