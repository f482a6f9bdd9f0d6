#include "engine/sglua/wrap_Scenegraph.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/assets/wrap_AssetManager.h"
#include "engine/sound/wrap_SoundManager.h"
#include "platform/lua/LuaArgs.h"
#include "platform/lua/LuaObject.h"
#include "scenegraph/SGPortID.h"
#include "scenegraph/SGScene.h"
#include "scenegraph/nodes/SGAttributeNode.h"

namespace {

using dk::sound::SoundManager;
using plat::lua::absIndex;
using plat::lua::toInt32;
using plat::lua::withArity;

// ---------------------------------------------------------------------------------------------
// Live nodes. Node handles and port tables outlive their nodes (a space destroys its members
// whenever the script removes them), so every node handed to a script gets a slot here, and its
// slot is emptied when it is destroyed. Handles and port tables name the node by a token: the
// slot's index and the slot's generation, which changes whenever the slot is emptied, so a token
// of a destroyed node is caught even when a new node lives at the same address. Checking a token
// is an index and a comparison; port writes do it on every call.

struct LiveSlot {
    SGNode* node;
    uint64_t token;
    // The address of the payload of the last handle made for the node, only ever fetched ahead (a
    // port write reads it first), never read: the handle may have been collected since.
    uintptr_t handle = 0;
};

struct LiveNodes {
    std::vector<LiveSlot> slots{LiveSlot{nullptr, 0}};  // index 0 unused: no token is 0
    std::vector<uint32_t> freeSlots;
    std::unordered_map<const SGObject*, uint32_t> slotOf;
};

// A token goes to scripts as a light userdata, which holds 47 bits on every platform LuaJIT runs
// on: 24 for the index, 23 for the generation. A slot whose generation runs out is retired.
constexpr int kIndexBits = 24;
constexpr uint64_t kIndexMask = (uint64_t{1} << kIndexBits) - 1;
constexpr uint64_t kLastGeneration = (uint64_t{1} << 23) - 1;

// Never destroyed: nodes may outlive static destruction (a scene left to the process's end).
LiveNodes& liveNodes() {
    static LiveNodes* live = new LiveNodes;
    return *live;
}

void forgetDestroyed(SGObject* object) {
    LiveNodes& live = liveNodes();
    auto it = live.slotOf.find(object);
    if (it == live.slotOf.end()) return;
    LiveSlot& slot = live.slots[it->second];
    uint64_t generation = (slot.token >> kIndexBits) + 1;
    slot.node = nullptr;
    slot.handle = 0;
    slot.token = generation << kIndexBits | it->second;
    if (generation < kLastGeneration) live.freeSlots.push_back(it->second);
    live.slotOf.erase(it);
}

uint64_t tokenFor(lua_State* L, SGNode* node) {
    LiveNodes& live = liveNodes();
    auto [it, added] = live.slotOf.try_emplace(node, 0);
    if (!added) return live.slots[it->second].token;
    uint32_t index = 0;
    if (!live.freeSlots.empty()) {
        index = live.freeSlots.back();
        live.freeSlots.pop_back();
    } else if (live.slots.size() <= kIndexMask) {
        index = static_cast<uint32_t>(live.slots.size());
        live.slots.push_back(LiveSlot{nullptr, uint64_t{1} << kIndexBits | index});
    } else {
        live.slotOf.erase(it);
        luaL_error(L, "scenegraph: too many nodes");
    }
    it->second = index;
    live.slots[index].node = node;
    return live.slots[index].token;
}

// The node a token names, or null when it is gone (or the token was never made here).
SGNode* nodeForToken(uint64_t token) {
    const LiveNodes& live = liveNodes();
    uint64_t index = token & kIndexMask;
    if (index >= live.slots.size() || live.slots[index].token != token) return nullptr;
    return live.slots[index].node;
}

// The userdata of a node handle. The pointer comes first, as the one-pointer script objects of
// the other modules have it.
struct NodeHandle {
    SGNode* node;
    uint64_t token;
};

// Registry keys (addresses only) of per-state tables: metatable -> kind, port name -> identifier;
// slot index -> the token last handed out here for that slot, as a light userdata and as a
// number; token light userdata -> the token as a number, and how many entries that last table
// holds; the maker of `__index` closures.
char kKindsKey;
char kPortNamesKey;
char kSlotTokensKey;
char kSlotNumbersKey;
char kTokenNumbersKey;
char kTokenCountKey;
char kIndexMakerKey;

enum Kind { kNotANode = 0, kPlainNode, kAttributeNode, kRenderNode, kSpace };

void pushRegistryTable(lua_State* L, const char* key) {
    lua_pushlightuserdata(L, const_cast<char*>(key));
    lua_rawget(L, LUA_REGISTRYINDEX);
}

const char* metatableForNode(const SGNode* node) {
    uint32_t bits = node->nodeClass();
    if (bits & SGNodeClassSpace) return SGLuaSpaceMT;
    if (bits & SGNodeClassRenderNode) return SGLuaRenderNodeMT;
    if (bits & SGNodeClassAttributeNode) return SGLuaAttributeNodeMT;
    return SGLuaNodeMT;
}

// The handle at idx when it is one of the node kinds, else null.
NodeHandle* toHandle(lua_State* L, int idx, Kind* kind = nullptr) {
    idx = absIndex(L, idx);
    if (lua_type(L, idx) != LUA_TUSERDATA || !lua_getmetatable(L, idx)) return nullptr;
    pushRegistryTable(L, &kKindsKey);
    lua_insert(L, -2);
    lua_rawget(L, -2);
    auto k = static_cast<Kind>(lua_tointeger(L, -1));
    lua_pop(L, 2);
    if (kind) *kind = k;
    return k == kNotANode ? nullptr : static_cast<NodeHandle*>(lua_touserdata(L, idx));
}

SGNode* liveNode(lua_State* L, const NodeHandle* handle) {
    SGNode* node = handle->node ? nodeForToken(handle->token) : nullptr;
    if (!node) luaL_error(L, "scenegraph: node used after it was destroyed");
    return node;
}

SGNode* checkNode(lua_State* L, int idx) {
    NodeHandle* handle = toHandle(L, idx);
    if (!handle) luaL_error(L, "scenegraph: node expected, got %s", luaL_typename(L, absIndex(L, idx)));
    return liveNode(L, handle);
}

template <class T>
T* checkNodeOf(lua_State* L, int idx, const char* what) {
    T* node = dynamic_cast<T*>(checkNode(L, idx));
    if (!node) luaL_error(L, "scenegraph: %s expected", what);
    return node;
}

SGScene* checkScene(lua_State* L, int idx) {
    return plat::lua::checkObject<SGScene>(L, idx, SGLuaSceneMT);
}

uint32_t checkClass(lua_State* L, int idx) {
    return static_cast<uint32_t>(toInt32(luaL_checknumber(L, absIndex(L, idx))));
}

// Computing may call back into the scripts (a loader asks the script for an asset's path), and
// such a callback must not destroy what is being computed. Counts the computations under way.
int g_computing = 0;

struct Computing {
    Computing() { ++g_computing; }
    ~Computing() { --g_computing; }  // also when a Lua error unwinds through it
    Computing(const Computing&) = delete;
    Computing& operator=(const Computing&) = delete;
};

void checkNotComputing(lua_State* L, const char* what) {
    if (g_computing) luaL_error(L, "scenegraph: %s while the scene graph computes", what);
}

// Spaces, scenes and replicator and wrap nodes each make a render manager; without a renderer
// for the current API that would stop the program.
void checkRenderer(lua_State* L) {
    if (!SGCanMakeRenderManager()) luaL_error(L, "scenegraph: no renderer is installed for this GL API");
}

bool makesRenderManager(uint32_t nodeClass) {
    return nodeClass == SGNodeClassSpace || nodeClass == SGNodeClassReplicatorNode ||
           nodeClass == SGNodeClassWrapNode;
}

// ---------------------------------------------------------------------------------------------
// Port tables: {[1] = the node's token as a light userdata, [2] = port identifier}. Scripts see
// a light userdata there, as they would the node's address, and cannot do anything with either.

SGPort* checkPort(lua_State* L, int idx) {
    idx = absIndex(L, idx);
    if (!lua_istable(L, idx)) luaL_error(L, "scenegraph: port expected, got %s", luaL_typename(L, idx));
    lua_rawgeti(L, idx, 1);
    lua_rawgeti(L, idx, 2);
    bool isToken = lua_type(L, -2) == LUA_TLIGHTUSERDATA;
    auto token = reinterpret_cast<uintptr_t>(lua_touserdata(L, -2));
    bool isId = lua_type(L, -1) == LUA_TNUMBER;
    lua_Number id = lua_tonumber(L, -1);
    lua_pop(L, 2);
    if (!isToken || !token || !isId || id < 0 || id >= SGPortIDCount || id != std::floor(id))
        luaL_error(L, "scenegraph: malformed port table");
    SGNode* node = nodeForToken(token);
    if (!node) luaL_error(L, "scenegraph: port of a destroyed node");
    SGPort* port = node->portForID(static_cast<SGPortID>(static_cast<int>(id)));
    if (!port)
        luaL_error(L, "scenegraph: the node has no port \"%s\"", SGPortNameForID(static_cast<SGPortID>(id)));
    return port;
}

// The typed port, or null when the port is not of class P. Nodes hold the typed classes
// themselves: an exact match spares the cast its walk.
template <class P>
P* portAs(SGPort* port) {
    if (typeid(*port) == typeid(P)) return static_cast<P*>(port);
    return dynamic_cast<P*>(port);
}

template <class P>
P* typedPort(lua_State* L, SGPort* port) {
    P* typed = portAs<P>(port);
    if (!typed) luaL_error(L, "scenegraph: port type does not match its value");
    return typed;
}

// The stores of plain values, each with its one conversion. Two roads lead here: storePlain for
// any Lua value, and the direct stores the Lua side calls through the FFI for a number, a string
// or a boolean whose port takes it as it is.
// A store without notify overwrites the value and marks nothing (the owner's next compute still
// reads it, however it comes to be marked).
template <class P, class V>
void storeQuietly(P* p, V value) {
    p->value = std::move(value);
    p->noteStored();
}

void storeNumber(SGNumberPort* p, lua_Number number, bool notify) {
    auto value = static_cast<float>(number);
    notify ? p->setValue(value) : storeQuietly(p, value);
}

void storeInteger(SGIntegerPort* p, lua_Number number, bool notify) {
    int32_t value = toInt32(number);
    notify ? p->setValue(value) : storeQuietly(p, value);
}

void storeFlag(SGBooleanPort* p, bool flag, bool notify) {
    notify ? p->setValue(flag) : storeQuietly(p, flag);
}

void storeText(SGStringPort* p, const char* text, size_t length, bool notify) {
    if (!notify)
        storeQuietly(p, std::string(text, length));
    else if (p->value.size() != length || std::memcmp(p->value.data(), text, length) != 0)
        p->setValue(std::string(text, length));
}

// Stores a plain Lua value by the port's type. Returns false for the types that take values only
// through connections (colour, sound, image).
bool storePlain(lua_State* L, SGPort* port, int valueIdx, bool notify) {
    switch (port->type()) {
        case SGPortValueType::STRING:
            if (lua_type(L, valueIdx) == LUA_TBOOLEAN) {
                const char* text = lua_toboolean(L, valueIdx) ? "true" : "false";
                storeText(typedPort<SGStringPort>(L, port), text, std::strlen(text), notify);
                return true;
            }
            [[fallthrough]];
        case SGPortValueType::ASSETNAME: {
            size_t length = 0;
            // Numbers become text in Lua's own number format; tables, functions, nil store nothing.
            const char* text = lua_isnil(L, valueIdx) ? nullptr : lua_tolstring(L, valueIdx, &length);
            if (text) storeText(typedPort<SGStringPort>(L, port), text, length, notify);
            return true;
        }
        case SGPortValueType::NUMBER:
            storeNumber(typedPort<SGNumberPort>(L, port), lua_tonumber(L, valueIdx), notify);
            return true;
        case SGPortValueType::INTEGER:
            storeInteger(typedPort<SGIntegerPort>(L, port), lua_tonumber(L, valueIdx), notify);
            return true;
        case SGPortValueType::BOOLEAN:
            storeFlag(typedPort<SGBooleanPort>(L, port), lua_toboolean(L, valueIdx) != 0, notify);
            return true;
        case SGPortValueType::COLOR:
        case SGPortValueType::SOUND:
        case SGPortValueType::IMAGE:
            return false;
        default:
            luaL_error(L, "scenegraph: a port of type nil takes no value");
            return false;
    }
}

int portValue(lua_State* L) {
    SGPort* port = checkPort(L, 1);
    Computing computing;
    switch (port->type()) {
        case SGPortValueType::STRING:
        case SGPortValueType::ASSETNAME: {
            std::string text = port->stringValue();
            lua_pushlstring(L, text.data(), text.size());
            break;
        }
        case SGPortValueType::NUMBER:
            lua_pushnumber(L, port->numberValue());
            break;
        case SGPortValueType::INTEGER:
            lua_pushnumber(L, port->intValue());
            break;
        case SGPortValueType::BOOLEAN:
            lua_pushboolean(L, port->boolValue());
            break;
        default:
            lua_pushnil(L);
    }
    return 1;
}

int portSetValue(lua_State* L) {
    SGPort* port = checkPort(L, 1);
    if (lua_istable(L, 2)) {
        SGPort* source = checkPort(L, 2);
        port->setValue(source);  // a connection closing a cycle is refused (and reported)
        return 0;
    }
    if (!storePlain(L, port, 2, lua_toboolean(L, 3) != 0)) {
        std::fputs("SGPort:setValue unhandled type", stdout);
        std::fflush(stdout);
    }
    return 0;
}

SGAttributeNode* checkAttributeNode(lua_State* L, int idx) {
    Kind kind = kNotANode;
    NodeHandle* handle = toHandle(L, idx, &kind);
    if (!handle || kind != kAttributeNode)
        luaL_error(L, "scenegraph: attribute node expected, got %s", luaL_typename(L, absIndex(L, idx)));
    auto* node = dynamic_cast<SGAttributeNode*>(liveNode(L, handle));
    if (!node) luaL_error(L, "scenegraph: attribute node expected");
    return node;
}

int portConnectToAttribute(lua_State* L) {
    SGPort* port = checkPort(L, 1);
    int object = lua_gettop(L);
    int type = lua_type(L, object);
    if (type != LUA_TTABLE && type != LUA_TUSERDATA)
        luaL_error(L, "scenegraph: connectToAttribute needs an attribute object, got %s",
                   luaL_typename(L, object));
    lua_getfield(L, object, "getNode");
    lua_pushvalue(L, object);
    lua_call(L, 1, 1);  // unprotected: an error in the script's getNode reaches the caller
    SGAttributeNode* node = checkAttributeNode(L, -1);
    SGPort* value = node->valuePort();
    if (!value) luaL_error(L, "scenegraph: the attribute node has no value");
    // The port may have been resolved before getNode ran; make sure its node survived the call.
    port = checkPort(L, 1);
    port->setValue(value);
    lua_pop(L, 1);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Node handles

void pushToken(lua_State* L, uint64_t token) {
    lua_pushlightuserdata(L, reinterpret_cast<void*>(static_cast<uintptr_t>(token)));
}

// Drops the token numbers of gone nodes from the table at `tokens`; answers how many are left.
int sweepTokenNumbers(lua_State* L, int tokens) {
    int kept = 0;
    lua_pushnil(L);
    while (lua_next(L, tokens)) {
        bool live = nodeForToken(static_cast<uint64_t>(lua_tonumber(L, -1))) != nullptr;
        lua_pop(L, 1);
        if (live) {
            ++kept;
            continue;
        }
        lua_pushvalue(L, -1);
        lua_pushnil(L);
        lua_rawset(L, tokens);  // clearing a field under traversal is allowed
    }
    return kept;
}

// The Lua side cannot read a light userdata's value, and hands the FFI numbers: it finds a token's
// number in a per-state table. Gone nodes' entries are swept once they would outnumber the live
// nodes, so a game that keeps making and removing nodes holds about twice its live nodes at most.
void rememberTokenNumber(lua_State* L, uint64_t token) {
    pushRegistryTable(L, &kTokenNumbersKey);
    int tokens = lua_gettop(L);
    pushToken(L, token);
    lua_rawget(L, tokens);
    bool known = !lua_isnil(L, -1);
    lua_pop(L, 1);
    if (!known) {
        pushToken(L, token);
        lua_pushnumber(L, static_cast<lua_Number>(token));  // 47 bits: exact
        lua_rawset(L, tokens);
        lua_pushlightuserdata(L, &kTokenCountKey);
        lua_rawget(L, LUA_REGISTRYINDEX);
        auto count = static_cast<size_t>(lua_tonumber(L, -1)) + 1;
        lua_pop(L, 1);
        if (count > 2 * liveNodes().slotOf.size() + 1024) count = sweepTokenNumbers(L, tokens);
        lua_pushlightuserdata(L, &kTokenCountKey);
        lua_pushnumber(L, static_cast<lua_Number>(count));
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    lua_pop(L, 1);
}

void pushNode(lua_State* L, SGNode* node) {
    uint64_t token = tokenFor(L, node);
    auto* handle = static_cast<NodeHandle*>(lua_newuserdata(L, sizeof(NodeHandle)));
    handle->node = node;
    handle->token = token;
    liveNodes().slots[token & kIndexMask].handle = reinterpret_cast<uintptr_t>(handle);
    luaL_getmetatable(L, metatableForNode(node));
    lua_setmetatable(L, -2);
    // What the Lua side puts in this handle's port tables (Lua code cannot make a light userdata),
    // found by the slot's index: slots are dense, so this is an array read, not a hash look-up.
    auto slot = static_cast<int>(token & kIndexMask);
    pushRegistryTable(L, &kSlotTokensKey);
    pushToken(L, token);
    lua_rawseti(L, -2, slot);
    lua_pop(L, 1);
    pushRegistryTable(L, &kSlotNumbersKey);
    lua_pushnumber(L, static_cast<lua_Number>(token));  // 47 bits: exact
    lua_rawseti(L, -2, slot);
    lua_pop(L, 1);
    rememberTokenNumber(L, token);
}

int nodeCompute(lua_State* L) {
    SGNode* node = checkNode(L, -1);
    Computing computing;
    node->compute();
    return 0;
}

int renderNodeGetLayer(lua_State* L) {
    lua_pushinteger(L, checkNodeOf<SGRenderNode>(L, -1, "render node")->layer);
    return 1;
}

int renderNodeSetLayer(lua_State* L) {
    auto* node = checkNodeOf<SGRenderNode>(L, -2, "render node");
    node->layer = toInt32(luaL_checknumber(L, absIndex(L, -1)));
    return 0;
}

int spaceCreateNode(lua_State* L) {
    auto* space = checkNodeOf<SGSpace>(L, -2, "space");
    uint32_t nodeClass = checkClass(L, -1);
    checkNotComputing(L, "createNode");  // drawing walks the lists a new node joins
    if (makesRenderManager(nodeClass)) checkRenderer(L);
    SGNode* node = space->createNode(nodeClass);
    if (node)
        pushNode(L, node);
    else
        lua_pushnil(L);
    return 1;
}

int spaceRemoveNode(lua_State* L) {
    auto* space = checkNodeOf<SGSpace>(L, -2, "space");
    checkNotComputing(L, "removeNode");
    if (!lua_isuserdata(L, -1)) {
        std::fputs("Attempt to remove nil node\n", stdout);
        std::fflush(stdout);
        lua_getglobal(L, "logtrace");
        lua_call(L, 0, 0);
        return 0;
    }
    space->removeNode(checkNode(L, -1));
    return 0;
}

int spaceSortRenderNodes(lua_State* L) {
    auto* space = checkNodeOf<SGSpace>(L, -1, "space");
    checkNotComputing(L, "sortRenderNodes");
    space->sortRenderNodes();
    return 0;
}

int spaceCountRenderNodes(lua_State* L) {
    lua_pushinteger(L, checkNodeOf<SGSpace>(L, -1, "space")->countRenderNodes());
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Attribute nodes: free-standing, owned by their handle until it is collected.

int attributeNew(lua_State* L) {
    auto type = static_cast<SGPortValueType>(toInt32(luaL_checknumber(L, lua_gettop(L))));
    pushNode(L, new SGAttributeNode(type));
    return 1;
}

int attributeSetValue(lua_State* L) {
    SGAttributeNode* node = checkAttributeNode(L, 1);
    SGPort* port = node->valuePort();
    if (!port) return 0;
    if (lua_istable(L, 2) || !storePlain(L, port, 2, lua_toboolean(L, 3) != 0)) {
        std::fputs("AttributeNode:setValue unhandled type\n", stdout);
        std::fflush(stdout);
    }
    return 0;
}

int attributeGc(lua_State* L) {
    Kind kind = kNotANode;
    NodeHandle* handle = toHandle(L, 1, &kind);
    if (!handle || kind != kAttributeNode || !handle->node) return 0;
    SGNode* node = handle->node;
    handle->node = nullptr;
    node->release();  // destroyed unless a connection still retains it
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Scenes

template <class T>
T* optionalObject(lua_State* L, int idx, const char* mt) {
    return lua_isnil(L, idx) ? nullptr : plat::lua::checkObject<T>(L, idx, mt);
}

int sceneNew(lua_State* L) {
    auto* soundManager = optionalObject<SoundManager>(L, -2, DKSoundManagerMetatable);
    auto* assetManager = optionalObject<DKEngineAssetManager>(L, -1, DKAssetManagerMetatable);
    checkRenderer(L);
    plat::lua::pushObject(L, new SGScene(soundManager, assetManager), SGLuaSceneMT);
    return 1;
}

int sceneDelete(lua_State* L) {
    if (!plat::lua::toSlot<SGScene>(L, -1, SGLuaSceneMT))
        luaL_error(L, "%s expected, got %s", SGLuaSceneMT, luaL_typename(L, absIndex(L, -1)));
    if (!*plat::lua::toSlot<SGScene>(L, -1, SGLuaSceneMT)) luaL_error(L, "scenegraph: scene deleted twice");
    checkNotComputing(L, "delete");
    SGScene* scene = plat::lua::takeObject<SGScene>(L, -1, SGLuaSceneMT);
    scene->release();
    return 0;
}

int sceneDefaultSpace(lua_State* L) {
    pushNode(L, &checkScene(L, -1)->defaultSpace());
    return 1;
}

int sceneCreateSpace(lua_State* L) {
    SGScene* scene = checkScene(L, -2);
    uint32_t nodeClass = checkClass(L, -1);
    checkNotComputing(L, "createSpace");
    checkRenderer(L);
    pushNode(L, scene->createSpace(nodeClass));
    return 1;
}

int sceneRemoveSpace(lua_State* L) {
    SGScene* scene = checkScene(L, -2);
    SGNode* node = checkNode(L, -1);
    checkNotComputing(L, "removeSpace");
    if (auto* space = dynamic_cast<SGSpace*>(node)) scene->removeSpace(space);
    return 0;
}

int sceneRender(lua_State* L) {
    SGScene* scene = checkScene(L, -1);
    Computing computing;
    scene->render();
    return 0;
}

int sceneRenderWithInitialState(lua_State* L) {
    SGScene* scene = checkScene(L, -2);
    SGScene* initial = checkScene(L, -1);
    Computing computing;
    scene->renderWithInitialState(*initial);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The hot path: node property access and port writes in Lua, so that LuaJIT's compiler follows a
// script's `sprite.x:setValue(x, true)` all the way to the store. A compiled loop then makes no
// port table at all (allocation sinking removes those that do not escape) and calls the direct
// stores below without leaving the trace. Those take the node's token as a number (a light
// userdata given to the FFI stops the compiler) and store only what the port takes as it is;
// everything else goes to portSetValue, so each conversion has one implementation.

enum DirectStatus : int32_t { kStored = 0, kNodeGone = 1, kNotDirect = 2 };

// The port a token and identifier name, or null with the status to answer.
SGPort* directPort(int64_t token, double id, int32_t* status) {
    SGNode* node = nodeForToken(static_cast<uint64_t>(token));
    *status = node ? kNotDirect : kNodeGone;
    if (!node || !(id >= 0 && id < SGPortIDCount) || id != std::floor(id)) return nullptr;
    return node->portForID(static_cast<SGPortID>(static_cast<int>(id)));
}

// Starts loading the lines of a node that a port write reads (null: nothing).
void fetchNode(const SGNode* node) {
    if (!node) return;
    __builtin_prefetch(node, 1);
    __builtin_prefetch(reinterpret_cast<const char*>(node) + 64, 1);
}

// Starts loading a handle's userdata: its payload and the header before it (48 bytes on 64-bit
// builds), which holds the metatable a node's `__index` checks (null: nothing).
void fetchHandle(uintptr_t payload) {
    if (!payload) return;
    __builtin_prefetch(reinterpret_cast<const void*>(payload));
    __builtin_prefetch(reinterpret_cast<const void*>(payload - 48));
}

}  // namespace

// Reached only through the pointers the Lua side is handed; they must not throw (nothing unwinds
// through an FFI call), nor call back into Lua.
extern "C" {

static int32_t directNumber(int64_t token, double id, double number, int32_t notify) {
    int32_t status = kNotDirect;
    SGPort* port = directPort(token, id, &status);
    if (!port) return status;
    if (port->type() == SGPortValueType::NUMBER) {
        if (auto* p = portAs<SGNumberPort>(port)) return storeNumber(p, number, notify), kStored;
    } else if (port->type() == SGPortValueType::INTEGER) {
        if (auto* p = portAs<SGIntegerPort>(port)) return storeInteger(p, number, notify), kStored;
    }
    return kNotDirect;
}

static int32_t directFlag(int64_t token, double id, int32_t flag, int32_t notify) {
    int32_t status = kNotDirect;
    SGPort* port = directPort(token, id, &status);
    if (!port || port->type() != SGPortValueType::BOOLEAN) return status;
    auto* p = portAs<SGBooleanPort>(port);
    return p ? (storeFlag(p, flag != 0, notify), kStored) : kNotDirect;
}

static int32_t directText(int64_t token, double id, const char* text, size_t length, int32_t notify) {
    int32_t status = kNotDirect;
    SGPort* port = directPort(token, id, &status);
    if (!port || (port->type() != SGPortValueType::STRING && port->type() != SGPortValueType::ASSETNAME))
        return status;
    auto* p = portAs<SGStringPort>(port);
    if (!p) return kNotDirect;
    try {
        storeText(p, text, length, notify);
    } catch (const std::bad_alloc&) {
        return kNotDirect;  // the C function tries again, and raises a Lua error if it fails too
    }
    return kStored;
}

// The slot of a node handle's userdata (its payload, which LuaJIT hands the FFI as a pointer), or
// 0 when its node is gone. Only a node's `__index` calls it, and only with a value that carries a
// node metatable, so the payload is a NodeHandle.
static int32_t directHandleSlot(const void* payload) {
    const auto* handle = static_cast<const NodeHandle*>(payload);
    SGNode* node = handle->node ? nodeForToken(handle->token) : nullptr;
    if (!node || node != handle->node) return 0;
    // The port write that follows reads the node's first two lines (sprites keep the ports a script
    // writes there). Scripts mostly walk their nodes in the order they made them, which is the
    // order of the slots: the next slot's node and handle are fetched as well, so that over
    // thousands of nodes their lines are on their way while this one is written.
    uint64_t index = handle->token & kIndexMask;
    fetchNode(node);
    const LiveNodes& live = liveNodes();
    if (index + 1 < live.slots.size()) {
        const LiveSlot& next = live.slots[index + 1];
        fetchNode(next.node);
        fetchHandle(next.handle);
    }
    return static_cast<int32_t>(index);
}

}  // extern "C"

namespace {

// Called once per state with: the ffi library, the four direct entries (light userdata), the
// port-name table, the port metatable, the slot -> token, slot -> number and token -> number
// tables, and the C setValue. Answers the maker of `__index` closures and the port method
// "setValue".
//
// Over thousands of nodes every hash look-up is a cache miss, so the path a moved sprite takes has
// none: the handle's slot comes from its own userdata (read by the FFI), its token's light userdata
// and number from arrays by that slot (filled by pushNode; a live handle's slot holds its token),
// and "setValue" finds the number of the port table it is given in the one
// the last access made (which a compiled `node.x:setValue(...)` folds away); only a port table
// kept from elsewhere goes through the token -> number table.
constexpr char kLuaSide[] = R"lua(
local ffi, number, flag, text, handle, portIds, portMT, tokenAt, numberAt, numberOf, setValueC = ...
local setmetatable, getmetatable, type, error = setmetatable, getmetatable, type, error

local STORED, GONE = 0, 1  -- any other status leaves the value to setValueC
local setNumber = ffi.cast("int32_t (*)(int64_t, double, double, int32_t)", number)
local setFlag = ffi.cast("int32_t (*)(int64_t, double, int32_t, int32_t)", flag)
local setText = ffi.cast("int32_t (*)(int64_t, double, const char *, size_t, int32_t)", text)
local handleSlot = ffi.cast("int32_t (*)(void *)", handle)

-- The last port table's light userdata and its number; the table never matches a script's value.
local lastToken, lastNumber = {}, nil

local function makeIndex(mt)
    return function(node, key)
        local id = portIds[key]
        if id == nil then return mt[key] end  -- follows the chain space, render node, node
        -- Only the handles pushNode makes carry this metatable; any other value (a light userdata
        -- above all, whose "payload" is an arbitrary address) must not reach handleSlot.
        if getmetatable(node) ~= mt then error("scenegraph: node expected, got " .. type(node), 2) end
        local slot = handleSlot(node)
        if slot == 0 then error("scenegraph: node used after it was destroyed", 2) end
        local token = tokenAt[slot]
        lastToken, lastNumber = token, numberAt[slot]
        return setmetatable({ token, id }, portMT)
    end
end

local function setValue(port, value, notify)
    if type(port) == "table" then
        local token, id = port[1], port[2]
        local n
        if token == lastToken then n = lastNumber else n = numberOf[token] end
        if n ~= nil and type(id) == "number" then
            local kind, status = type(value), nil
            local changed = notify and 1 or 0
            if kind == "number" then
                status = setNumber(n, id, value, changed)
            elseif kind == "string" then
                status = setText(n, id, value, #value, changed)
            elseif kind == "boolean" then
                status = setFlag(n, id, value and 1 or 0, changed)
            end
            if status == STORED then return end
            if status == GONE then error("scenegraph: port of a destroyed node", 2) end
        end
    end
    return setValueC(port, value, notify)
end

return makeIndex, setValue
)lua";

// The ffi library, opened once per state: a second opening would start its type state afresh
// under the cdata already made. Opening it sets no global; `require "ffi"` then finds it.
void pushFFI(lua_State* L) {
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
    if (lua_istable(L, -1)) {
        lua_getfield(L, -1, LUA_FFILIBNAME);
        lua_remove(L, -2);
        if (lua_istable(L, -1)) return;
    }
    lua_pop(L, 1);
    lua_pushcfunction(L, luaopen_ffi);
    lua_call(L, 0, 1);
}

template <class F>
void pushEntry(lua_State* L, F* entry) {
    lua_pushlightuserdata(L, reinterpret_cast<void*>(entry));
}

// Runs the Lua side for the port metatable on top: sets its "setValue" and keeps the maker.
void openLuaSide(lua_State* L) {
    int portMT = lua_gettop(L);
    if (luaL_loadbuffer(L, kLuaSide, sizeof kLuaSide - 1, "=scenegraph")) lua_error(L);
    pushFFI(L);
    pushEntry(L, directNumber);
    pushEntry(L, directFlag);
    pushEntry(L, directText);
    pushEntry(L, directHandleSlot);
    pushRegistryTable(L, &kPortNamesKey);
    lua_pushvalue(L, portMT);
    pushRegistryTable(L, &kSlotTokensKey);
    pushRegistryTable(L, &kSlotNumbersKey);
    pushRegistryTable(L, &kTokenNumbersKey);
    lua_pushcfunction(L, portSetValue);
    lua_call(L, 11, 2);
    lua_setfield(L, portMT, "setValue");
    lua_pushlightuserdata(L, &kIndexMakerKey);
    lua_insert(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

// ---------------------------------------------------------------------------------------------
// Registration

void setFunctions(lua_State* L, const luaL_Reg* functions) {
    for (; functions->name; ++functions) {
        lua_pushcfunction(L, functions->func);
        lua_setfield(L, -2, functions->name);
    }
}

// Sets the `__index` closure on the metatable on top and records it as a node kind.
void setNodeIndex(lua_State* L, Kind kind) {
    pushRegistryTable(L, &kIndexMakerKey);
    lua_pushvalue(L, -2);
    lua_call(L, 1, 1);
    lua_setfield(L, -2, "__index");
    pushRegistryTable(L, &kKindsKey);
    lua_pushvalue(L, -2);
    lua_pushinteger(L, kind);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

}  // namespace

void dk::sglua::resetLiveNodes() {
    liveNodes() = LiveNodes{};
}

extern "C" int luaopen_scenegraph(lua_State* L) {
    SGObjectDestroyedObserver = forgetDestroyed;

    lua_pushlightuserdata(L, &kKindsKey);
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_pushlightuserdata(L, &kPortNamesKey);
    lua_createtable(L, 0, SGPortIDCount);
    for (const auto& [name, id] : SGPortNameMap()) {
        lua_pushinteger(L, static_cast<int>(id));
        lua_setfield(L, -2, name.c_str());
    }
    lua_rawset(L, LUA_REGISTRYINDEX);
    for (char* key : {&kSlotTokensKey, &kSlotNumbersKey}) {
        lua_pushlightuserdata(L, key);
        lua_newtable(L);
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    lua_pushlightuserdata(L, &kTokenNumbersKey);
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);

    lua_newtable(L);  // the library
    static const std::pair<const char*, int> constants[] = {
        {"NIL", 0},
        {"STRING", 1},
        {"NUMBER", 2},
        {"INTEGER", 3},
        {"BOOLEAN", 4},
        {"COLOR", 5},
        {"SOUND", 6},
        {"IMAGE", 7},
        {"ASSETNAME", 8},
        {"attributeNode", SGNodeClassAttributeNode},
        {"arithmeticNode", SGNodeClassArithmeticNode},
        {"assetLoaderNode", SGNodeClassAssetLoaderNode},
        {"clearNode", SGNodeClassClearNode},
        {"colorNode", SGNodeClassColorNode},
        {"imageFlipNode", SGNodeClassImageFlipNode},
        {"imageLoaderNode", SGNodeClassImageLoaderNode},
        {"ortho2DSpace", SGNodeClassOrtho2DSpace},
        {"particleSystemNode", SGNodeClassParticleSystemNode},
        {"replicatorSpace", SGNodeClassReplicatorNode},
        {"space", SGNodeClassSpace},
        {"spriteNode", SGNodeClassSpriteNode},
        {"soundListenerNode", SGNodeClassSoundListenerNode},
        {"soundLoaderNode", SGNodeClassSoundLoaderNode},
        {"soundPlayerNode", SGNodeClassSoundPlayerNode},
        {"stringToImageNode", SGNodeClassStringToImageNode},
        {"wrapSpace", SGNodeClassWrapNode},
    };
    for (const auto& [name, value] : constants) {
        lua_pushinteger(L, value);
        lua_setfield(L, -2, name);
    }

    static const luaL_Reg sceneFunctions[] = {
        {"new", withArity<2, sceneNew>},
        {"delete", withArity<1, sceneDelete>},
        {"defaultSpace", withArity<1, sceneDefaultSpace>},
        {"createSpace", withArity<2, sceneCreateSpace>},
        {"removeSpace", withArity<2, sceneRemoveSpace>},
        {"render", withArity<1, sceneRender>},
        {"renderWithInitialState", withArity<2, sceneRenderWithInitialState>},
        {nullptr, nullptr}};
    luaL_newmetatable(L, SGLuaSceneMT);
    setFunctions(L, sceneFunctions);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    lua_setfield(L, -2, "scene");

    static const luaL_Reg portFunctions[] = {{"value", portValue},
                                             {"connectToAttribute", withArity<2, portConnectToAttribute>},
                                             {nullptr, nullptr}};
    luaL_newmetatable(L, SGLuaPortMT);
    setFunctions(L, portFunctions);
    openLuaSide(L);  // "setValue"
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);

    static const luaL_Reg nodeFunctions[] = {{"compute", withArity<1, nodeCompute>}, {nullptr, nullptr}};
    luaL_newmetatable(L, SGLuaNodeMT);
    setFunctions(L, nodeFunctions);
    setNodeIndex(L, kPlainNode);
    lua_pop(L, 1);

    static const luaL_Reg attributeFunctions[] = {{"new", withArity<1, attributeNew>},
                                                  {"setValue", attributeSetValue},
                                                  {"__gc", attributeGc},
                                                  {nullptr, nullptr}};
    luaL_newmetatable(L, SGLuaAttributeNodeMT);
    setFunctions(L, attributeFunctions);
    setNodeIndex(L, kAttributeNode);
    lua_setfield(L, -2, "attributeNode");

    static const luaL_Reg renderNodeFunctions[] = {{"getLayer", withArity<1, renderNodeGetLayer>},
                                                   {"setLayer", withArity<2, renderNodeSetLayer>},
                                                   {nullptr, nullptr}};
    luaL_newmetatable(L, SGLuaRenderNodeMT);
    luaL_getmetatable(L, SGLuaNodeMT);
    lua_setmetatable(L, -2);
    setFunctions(L, renderNodeFunctions);
    setNodeIndex(L, kRenderNode);
    lua_pop(L, 1);

    static const luaL_Reg spaceFunctions[] = {{"createNode", withArity<2, spaceCreateNode>},
                                              {"removeNode", withArity<2, spaceRemoveNode>},
                                              {"sortRenderNodes", withArity<1, spaceSortRenderNodes>},
                                              {"countRenderNodes", withArity<1, spaceCountRenderNodes>},
                                              {nullptr, nullptr}};
    luaL_newmetatable(L, SGLuaSpaceMT);
    luaL_getmetatable(L, SGLuaRenderNodeMT);
    lua_setmetatable(L, -2);
    setFunctions(L, spaceFunctions);
    setNodeIndex(L, kSpace);
    lua_pop(L, 1);

    lua_setglobal(L, "scenegraph");
    return 0;
}
