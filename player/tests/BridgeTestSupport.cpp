#include "player/tests/BridgeTestSupport.h"

#include <cstdint>
#include <sstream>

#include "platform/foundation/Log.h"

namespace dktest {

BridgeTrace::BridgeTrace() {
    plat::foundation::Trace::configure("bridge", m_dir.file("trace").c_str());
}

BridgeTrace::~BridgeTrace() {
    plat::foundation::Trace::configure("", "");
}

std::vector<std::string> BridgeTrace::take() {
    std::istringstream in(readFile(m_dir.file("trace")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(m_taken));
    m_taken += lines.size();
    return lines;
}

DKGameViewController* fakeController(int n) {
    static char controllers[8];
    return reinterpret_cast<DKGameViewController*>(&controllers[n]);
}

void BridgeTest::SetUp() {
    state = DK_NewState(1);
    state->callbacks.callExternalFunction = callExternalFunction;
    state->callbacks.externalData = state->L;
    DK_Init(state, DK_TEST_DATA_DIR "/bridge.lua", nullptr);
}

void BridgeTest::TearDown() {
    DKExternalFunctionTable::destroyExternalFunctionTableForState(state->L);
    DK_DestroyState(state);
}

}  // namespace dktest
