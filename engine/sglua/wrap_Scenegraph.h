// The "scenegraph" Lua module: scenes, spaces and nodes as script objects, ports read, written and
// connected by name.
#pragma once

#include <lua.hpp>

extern "C" int luaopen_scenegraph(lua_State* L);

// Registry metatable names (exact: scripts and other modules may look them up).
inline constexpr const char* SGLuaSceneMT = "scenegraph.sceneMT";
inline constexpr const char* SGLuaPortMT = "scenegraph.portMT";
inline constexpr const char* SGLuaNodeMT = "scenegraph.nodeMT";
inline constexpr const char* SGLuaAttributeNodeMT = "scenegraph.attributeNodeMT";
inline constexpr const char* SGLuaRenderNodeMT = "scenegraph.renderNodeMT";
inline constexpr const char* SGLuaSpaceMT = "scenegraph.spaceMT";
