// Engine states whose external functions go through the bridge, and the bridge's trace lines.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/DKEngine.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "tests/support/TestSupport.h"

namespace dktest {

// The lines of the trace category "bridge" written while it lives, without their time stamps
// ("bridge call echo").
class BridgeTrace {
public:
    BridgeTrace();
    ~BridgeTrace();
    BridgeTrace(const BridgeTrace&) = delete;
    BridgeTrace& operator=(const BridgeTrace&) = delete;
    // The lines written since the last take.
    std::vector<std::string> take();

private:
    TempDir m_dir;
    size_t m_taken = 0;
};

// A controller for actions to be given: only its address is ever used.
DKGameViewController* fakeController(int n);

// An engine state on data/bridge.lua, the bridge as its external-function entry, its main Lua
// state as the entry's data; its table dropped and the state destroyed at the end.
class BridgeTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string run(const std::string& chunk) { return runLua(state->L, chunk); }
    std::shared_ptr<DKExternalFunctionTable> table() {
        return DKExternalFunctionTable::externalFunctionTableForState(state->L);
    }

    BridgeTrace trace;
    DK_State* state = nullptr;
};

}  // namespace dktest
