// The "scenegraph" Lua module: scenes, spaces and nodes as script objects, ports read, written and
// connected by name. It lives in the engine, not in scenegraph/, because it reads the sound and asset
// managers of the engine's other modules, and the scene graph stays free of Lua. Integers cross with
// plat::lua::toInt32.
//
// Scenes are one-pointer handles (delete nulls the pointer; a later use is a Lua error). Node
// handles cannot be nulled that way (a space destroys its members whenever the script removes them),
// so every node handed to a script gets a slot in a process-wide table of live nodes, named by a
// token (slot index and generation); ~SGObject empties the slot and moves its generation on, so a
// handle or port table whose node is gone is a Lua error even when a new node took the same address
// or slot. A malformed port table, a port the node lacks, or a plain value on a port of type nil is a
// Lua error. Attribute nodes belong to their handle (__gc releases them). Scenes, spaces, replicators
// and wrap spaces without a renderer installed for the current API raise a Lua error. While a
// render, a compute or a port read is under way (each may call the script back), deleting a scene,
// removing a space or node, creating one or sorting is a Lua error.
//
// The hot path is Lua, so LuaJIT's compiler follows sprite.x:setValue(x, true) from the script to the
// store: the node __index closures and the port method setValue come from a chunk compiled once per
// state (kLuaSide). Writes call extern "C" direct stores through FFI function pointers handed to the
// chunk (the ffi library sets no global). node.name reads the handle's slot through the FFI (0 when
// the node is gone or the userdata is not a node handle) and takes the token from arrays indexed by
// the slot: no hash look-up on that path, which was a cache miss per node over thousands. Reading the
// slot also fetches the lines the write will read, and those of the next slot's node and handle
// (scripts mostly walk nodes in the order they made them). A direct store checks the token like the
// C path and stores only a number on a number or integer port, a string on a string or asset-name
// port, a boolean on a boolean port; everything else goes to the C setValue, so each conversion has
// one implementation. Direct stores never call back into Lua; "value", whose read may compute, stays
// a C function.
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
