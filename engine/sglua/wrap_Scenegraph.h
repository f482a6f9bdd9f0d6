// The "scenegraph" Lua module: scenes, spaces and nodes as script objects, ports read, written and
// connected by name.
#pragma once

#include <lua.hpp>

extern "C" int luaopen_scenegraph(lua_State* L);

namespace dk::sglua {

// Forgets every node token. Only for when no Lua state holding handles is left (the engine calls
// it when its last state closes): tokens start again as in a new process, and the slots of nodes
// a game never removed are let go. (The count of computations under way needs no reset: its
// scopes bring it back to 0, and resetting it under one still running would unbalance it.)
void resetLiveNodes();

}  // namespace dk::sglua

// Registry metatable names (exact: scripts and other modules may look them up).
inline constexpr const char* SGLuaSceneMT = "scenegraph.sceneMT";
inline constexpr const char* SGLuaPortMT = "scenegraph.portMT";
inline constexpr const char* SGLuaNodeMT = "scenegraph.nodeMT";
inline constexpr const char* SGLuaAttributeNodeMT = "scenegraph.attributeNodeMT";
inline constexpr const char* SGLuaRenderNodeMT = "scenegraph.renderNodeMT";
inline constexpr const char* SGLuaSpaceMT = "scenegraph.spaceMT";
