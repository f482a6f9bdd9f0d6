// The "scenegraph" Lua module: scenes, spaces and nodes as script objects, ports read, written and
// connected by name.
#pragma once

#include <lua.hpp>

class SGNode;

extern "C" int luaopen_scenegraph(lua_State* L);

// Registry metatable names (exact: scripts and other modules may look them up).
inline constexpr const char* SGLuaSceneMT = "scenegraph.sceneMT";
inline constexpr const char* SGLuaPortMT = "scenegraph.portMT";
inline constexpr const char* SGLuaNodeMT = "scenegraph.nodeMT";
inline constexpr const char* SGLuaAttributeNodeMT = "scenegraph.attributeNodeMT";
inline constexpr const char* SGLuaRenderNodeMT = "scenegraph.renderNodeMT";
inline constexpr const char* SGLuaSpaceMT = "scenegraph.spaceMT";

// Pushes a handle for a live node, with the metatable its class bits choose. The module must be
// open in this state. The handle owns nothing; once the node is destroyed using it is a Lua error.
void SGLuaPushNode(lua_State* L, SGNode* node);
