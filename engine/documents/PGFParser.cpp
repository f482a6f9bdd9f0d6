#include "engine/documents/PGFParser.h"

#include <cstdio>

namespace {
// Levels the counters are sized for; deeper documents still read, with a warning per new level.
constexpr std::size_t kExpectedLevels = 100;
// One slot for the element's table, two for a key and value being set, one spare.
constexpr int kSlotsPerElement = 4;
}  // namespace

PGFParser::PGFParser(lua_State* state) : childCounters(kExpectedLevels, 0), L(state) {}

bool PGFParser::openElement(const char* name) {
    // Every open element holds one table on the stack: deep documents must grow it first.
    if (!lua_checkstack(L, kSlotsPerElement)) return false;
    lua_createtable(L, 1, 4);
    lua_pushstring(L, name);
    lua_rawseti(L, -2, 0);
    if (depth >= childCounters.size()) {
        std::printf("WARNING! stack size has grown past expected levels( %zu )\n", childCounters.size());
        childCounters.push_back(1);
    } else {
        childCounters[depth] = 1;
    }
    ++depth;
    return true;
}

void PGFParser::setAttribute(const char* name, const char* value, std::size_t length) {
    lua_pushstring(L, name);
    lua_pushlstring(L, value, length);
    lua_rawset(L, -3);
}

bool PGFParser::closeElement(const char* text, std::size_t length) {
    if (depth == 0) return false;
    const bool taken = text && childCounters[depth - 1] == 1;
    if (taken) {
        lua_pushlstring(L, text, length);
        lua_rawseti(L, -2, 1);
    }
    if (depth == 1) return taken;  // the root stays on the stack
    --depth;
    uint32_t& next = childCounters[depth - 1];
    lua_rawseti(L, -2, static_cast<int>(next));
    ++next;
    return taken;
}
