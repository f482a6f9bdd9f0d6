#include "player/bridge/DKExternalFunctionTable.h"

#include <cmath>
#include <optional>

namespace {

using dk::player::BridgeArgument;
using dk::player::BridgeArguments;
using dk::player::BridgeResult;
using dk::player::bridgeTrace;
using plat::foundation::Value;

// Never destroyed: a table traces as it goes, and tracing may be gone by then at exit.
std::map<lua_State*, std::shared_ptr<DKExternalFunctionTable>>& registry() {
    static auto* tables = new std::map<lua_State*, std::shared_ptr<DKExternalFunctionTable>>;
    return *tables;
}

// Lua numbers are doubles and lua_Integer 64 bits: truncated toward zero, then wrapped to 32 bits
// on purpose. A value no 64-bit integer holds (NaN, the infinities, 2^63 and beyond) is 0 rather
// than whatever the conversion instruction makes of it.
int64_t truncated(lua_Number n) {
    if (!(n >= -0x1p63 && n < 0x1p63)) return 0;
    return static_cast<int64_t>(n);
}

uint32_t toUInt32(lua_Number n) {
    return static_cast<uint32_t>(static_cast<uint64_t>(truncated(n)));
}

int32_t toInt32(lua_Number n) {
    return static_cast<int32_t>(toUInt32(n));
}

// Lua's own conversion: numbers, and strings that read as one; anything else (and an argument
// the script did not pass) is 0.
lua_Number numberAt(lua_State* L, int position) {
    return position <= lua_gettop(L) ? lua_tonumber(L, position) : 0;
}

std::string textAt(lua_State* L, int position) {
    // lua_tolstring would turn a number into a string in its slot; convert a copy.
    lua_pushvalue(L, position);
    size_t length = 0;
    const char* text = lua_tolstring(L, -1, &length);
    std::string copy(text, length);
    lua_pop(L, 1);
    return copy;
}

// The key of a call: a number, or a string that reads as one, is an id; another string a name.
std::optional<DKExternalFunctionTable::Key> keyAt(lua_State* L, int position) {
    if (position > lua_gettop(L)) return std::nullopt;
    if (lua_isnumber(L, position)) return toInt32(lua_tonumber(L, position));
    if (lua_type(L, position) == LUA_TSTRING) return textAt(L, position);
    return std::nullopt;
}

std::string describe(const DKExternalFunctionTable::Key& key) {
    if (const int32_t* id = std::get_if<int32_t>(&key)) return std::to_string(*id);
    return std::get<std::string>(key);
}

// The script's argument at `position` as the parameter of type `type` takes it, tested in this
// order.
BridgeArgument readArgument(lua_State* L, int position, const std::string& type) {
    const char* code = type.c_str();
    const bool passed = position <= lua_gettop(L);
    if (objcTypeMatches(code, OBJC_TYPE_ID)) {
        const int luaType = passed ? lua_type(L, position) : LUA_TNONE;
        if (luaType == LUA_TSTRING || luaType == LUA_TNUMBER)
            return std::optional<std::string>(textAt(L, position));
        return std::optional<std::string>();
    }
    if (objcTypeMatches(code, OBJC_TYPE_INT)) return toInt32(numberAt(L, position));
    if (objcTypeMatches(code, OBJC_TYPE_UNSIGNED_INT)) return toUInt32(numberAt(L, position));
    if (objcTypeMatches(code, OBJC_TYPE_DOUBLE)) return static_cast<double>(numberAt(L, position));
    if (objcTypeMatches(code, OBJC_TYPE_FLOAT)) return static_cast<float>(numberAt(L, position));
    if (objcTypeMatches(code, OBJC_TYPE_BOOL)) return passed && lua_toboolean(L, position);
    return std::monostate();
}

template <class T>
T resultAs(const BridgeResult& result) {
    const T* value = std::get_if<T>(&result);
    return value ? *value : T{};
}

// An object result: nil, a number (through a float, as the platform's number objects give it),
// text, or nil for anything else.
void pushObject(lua_State* L, const BridgeResult& result) {
    if (const auto* text = std::get_if<std::optional<std::string>>(&result)) {
        if (*text) {
            lua_pushlstring(L, (*text)->data(), (*text)->size());
        } else {
            lua_pushnil(L);
        }
        return;
    }
    const Value* value = std::get_if<Value>(&result);
    switch (value ? value->type() : Value::Type::Null) {
        case Value::Type::Bool:
            lua_pushnumber(L, value->boolValue() ? 1.0 : 0.0);
            break;
        case Value::Type::Integer:
            lua_pushnumber(L, static_cast<double>(static_cast<float>(value->intValue())));
            break;
        case Value::Type::Real:
            lua_pushnumber(L, static_cast<double>(static_cast<float>(value->doubleValue())));
            break;
        case Value::Type::String:
            lua_pushlstring(L, value->string()->data(), value->string()->size());
            break;
        default:
            lua_pushnil(L);
    }
}

int pushResult(lua_State* L, const std::string& type, const BridgeResult& result) {
    const char* code = type.c_str();
    if (objcTypeMatches(code, OBJC_TYPE_ID)) {
        pushObject(L, result);
    } else if (objcTypeMatches(code, OBJC_TYPE_INT)) {
        lua_pushinteger(L, resultAs<int32_t>(result));
    } else if (objcTypeMatches(code, OBJC_TYPE_UNSIGNED_INT)) {
        lua_pushinteger(L, static_cast<lua_Integer>(resultAs<uint32_t>(result)));
    } else if (objcTypeMatches(code, OBJC_TYPE_DOUBLE)) {
        lua_pushnumber(L, resultAs<double>(result));
    } else if (objcTypeMatches(code, OBJC_TYPE_FLOAT)) {
        lua_pushnumber(L, static_cast<double>(resultAs<float>(result)));
    } else if (objcTypeMatches(code, OBJC_TYPE_BOOL)) {
        lua_pushboolean(L, resultAs<bool>(result));
    } else {
        return 0;
    }
    return 1;
}

}  // namespace

extern "C" bool objcTypeMatches(const char* encoding, const char* code) {
    return encoding && code && encoding[0] == code[0];
}

extern "C" int callExternalFunction(void* externalData, lua_State* L) {
    lua_State* main = externalData ? static_cast<lua_State*>(externalData) : L;
    // Held for the call: its action may drop the state's table.
    std::shared_ptr<DKExternalFunctionTable> table =
        DKExternalFunctionTable::externalFunctionTableForState(main);
    return table ? table->performCall(L) : 0;
}

namespace dk::player {

plat::foundation::TraceCategory& bridgeTrace() {
    static plat::foundation::TraceCategory category("bridge");
    return category;
}

}  // namespace dk::player

DKExternalFunctionAction::DKExternalFunctionAction(std::shared_ptr<void> target,
                                                   DKGameViewController* context, std::string typeCodes,
                                                   Invoke invoke)
    : m_target(std::move(target)),
      m_context(context),
      m_typeCodes(std::move(typeCodes)),
      m_invoke(std::move(invoke)) {}

std::shared_ptr<DKExternalFunctionTable> DKExternalFunctionTable::externalFunctionTableForState(
    lua_State* L) {
    std::shared_ptr<DKExternalFunctionTable>& table = registry()[L];
    if (!table) table = std::make_shared<DKExternalFunctionTable>();
    return table;
}

void DKExternalFunctionTable::destroyExternalFunctionTableForState(lua_State* L) {
    auto found = registry().find(L);
    if (found == registry().end()) return;
    // Out of the registry before it goes: its targets' destructors may look tables up.
    std::shared_ptr<DKExternalFunctionTable> table = std::move(found->second);
    registry().erase(found);
}

DKExternalFunctionTable::DKExternalFunctionTable() {
    plat::foundation::trace(bridgeTrace(), "table create");
}

DKExternalFunctionTable::~DKExternalFunctionTable() {
    plat::foundation::trace(bridgeTrace(), "table destroy");
}

std::shared_ptr<const DKExternalFunctionAction> DKExternalFunctionTable::actionForKey(const Key& key) const {
    auto found = m_functions.find(key);
    return found == m_functions.end() ? nullptr : found->second;
}

void DKExternalFunctionTable::store(Key key, std::shared_ptr<const DKExternalFunctionAction> action) {
    // The action replaced may hold the last reference to its target: let it go once the new one
    // is in place.
    std::shared_ptr<const DKExternalFunctionAction>& slot = m_functions[std::move(key)];
    std::swap(slot, action);
}

int DKExternalFunctionTable::performCall(lua_State* L) {
    const std::optional<Key> key = keyAt(L, 1);
    if (!key) {
        plat::foundation::trace(bridgeTrace(), "call none");
        return 0;
    }
    std::shared_ptr<const DKExternalFunctionAction> action = actionForKey(*key);
    plat::foundation::trace(bridgeTrace(),
                            [&] { return "call " + describe(*key) + (action ? "" : " unknown"); });
    if (!action) return 0;

    // Every argument is read before the action runs: it may raise an event into this Lua state,
    // and a failing handler empties the stack of this very call. From here on only `action` and
    // `L`'s top are used; this table may be gone.
    BridgeArguments arguments;
    for (int index = 3; index < action->numberOfArguments(); ++index) {
        arguments.push_back(readArgument(L, index - 1, action->argumentType(index)));
    }
    const BridgeResult result = action->invoke(arguments);
    return pushResult(L, action->methodReturnType(), result);
}
