#include "engine/documents/PGFParser.h"

#include <cstdio>

namespace {
// Levels the counters are sized for; deeper documents still read, with a warning per new level.
constexpr std::size_t kExpectedLevels = 100;
// One slot for the element's table, two for a key and value being set, one spare.
constexpr int kSlotsPerElement = 4;
}  // namespace

PGFParser::PGFParser(lua_State* state) : m_childCounters(kExpectedLevels, 0), m_L(state) {}

bool PGFParser::openElement(const char* name) {
    // Every open element holds one table on the stack: deep documents must grow it first.
    if (!lua_checkstack(m_L, kSlotsPerElement)) return false;
    lua_createtable(m_L, 1, 4);
    lua_pushstring(m_L, name);
    lua_rawseti(m_L, -2, 0);
    if (m_depth >= m_childCounters.size()) {
        std::printf("WARNING! stack size has grown past expected levels( %zu )\n", m_childCounters.size());
        m_childCounters.push_back(1);
    } else {
        m_childCounters[m_depth] = 1;
    }
    ++m_depth;
    return true;
}

void PGFParser::setAttribute(const char* name, const char* value, std::size_t length) {
    lua_pushstring(m_L, name);
    lua_pushlstring(m_L, value, length);
    lua_rawset(m_L, -3);
}

bool PGFParser::closeElement(const char* text, std::size_t length) {
    if (m_depth == 0) return false;
    const bool taken = text && m_childCounters[m_depth - 1] == 1;
    if (taken) {
        lua_pushlstring(m_L, text, length);
        lua_rawseti(m_L, -2, 1);
    }
    if (m_depth == 1) return taken;  // the root stays on the stack
    --m_depth;
    uint32_t& next = m_childCounters[m_depth - 1];
    lua_rawseti(m_L, -2, static_cast<int>(next));
    ++next;
    return taken;
}
