// Lua binding of the "pgf" module. Most functions read their arguments counted from the top of
// the stack (the last argument is the last parameter).
#include "engine/documents/wrap_PGF.h"

#include <cstdio>
#include <memory>

#include "engine/documents/PGFWriter.h"
#include "engine/documents/PGFXMLParser.h"
#include "platform/lua/LuaArgs.h"
#include "platform/lua/LuaObject.h"

using plat::lua::absIndex;

namespace {

// Arguments counted from the top exist only when enough were passed.
void requireArguments(lua_State* L, int count) {
    plat::lua::checkArgCount(L, count, "pgf: %d argument(s) expected, got %d");
}

PGFWriter* checkWriter(lua_State* L, int idx) {
    return plat::lua::checkObject<PGFWriter>(L, idx, kPGFWriterMT);
}

const char* checkLast(lua_State* L, int fromTop) {
    return luaL_checkstring(L, absIndex(L, fromTop));
}

int loadFile(lua_State* L) {
    requireArguments(L, 1);
    PGFXMLParser parser(L, checkLast(L, -1));
    return parser.parse() ? 1 : 0;
}

int loadString(lua_State* L) {
    requireArguments(L, 1);
    size_t length = 0;
    const char* text = luaL_checklstring(L, absIndex(L, -1), &length);
    PGFXMLParser parser(L, text, length);
    return parser.parse() ? 1 : 0;
}

const char* formatArgument(lua_State* L, int idx) {
    return lua_type(L, idx) == LUA_TSTRING ? lua_tostring(L, idx) : nullptr;
}

int pushWriter(lua_State* L, std::unique_ptr<PGFWriter> writer) {
    if (!writer) {
        lua_pushnil(L);
        return 1;
    }
    plat::lua::pushObject(L, writer.release(), kPGFWriterMT);
    return 1;
}

int newToFile(lua_State* L) {
    const char* path = luaL_checkstring(L, 1);
    auto writer = PGFWriter::create(formatArgument(L, 2), path);
    if (!writer) std::fprintf(stderr, "pgf: cannot write to \"%s\"\n", path);
    return pushWriter(L, std::move(writer));
}

int newToString(lua_State* L) {
    return pushWriter(L, PGFWriter::create(formatArgument(L, 1), nullptr));
}

int close(lua_State* L) {
    requireArguments(L, 1);
    delete plat::lua::takeObject<PGFWriter>(L, -1, kPGFWriterMT);
    return 0;
}

// A writer the script never closed is still flushed and freed.
int collect(lua_State* L) {
    delete plat::lua::takeObject<PGFWriter>(L, 1, kPGFWriterMT);
    return 0;
}

int startDocument(lua_State* L) {
    requireArguments(L, 1);
    lua_pushinteger(L, checkWriter(L, -1)->startDocument());
    return 1;
}

int endDocument(lua_State* L) {
    requireArguments(L, 1);
    lua_pushinteger(L, checkWriter(L, -1)->endDocument());
    return 1;
}

int startElement(lua_State* L) {
    requireArguments(L, 2);
    const char* name = checkLast(L, -1);
    lua_pushinteger(L, checkWriter(L, -2)->startElement(name));
    return 1;
}

int endElement(lua_State* L) {
    requireArguments(L, 1);
    lua_pushinteger(L, checkWriter(L, -1)->endElement());
    return 1;
}

int writeAttribute(lua_State* L) {
    requireArguments(L, 3);
    const char* value = checkLast(L, -1);
    const char* name = checkLast(L, -2);
    lua_pushinteger(L, checkWriter(L, -3)->writeAttribute(name, value));
    return 1;
}

int writeTextValue(lua_State* L) {
    requireArguments(L, 2);
    const char* text = checkLast(L, -1);
    lua_pushinteger(L, checkWriter(L, -2)->writeTextValue(text));
    return 1;
}

int getString(lua_State* L) {
    const char* text = checkWriter(L, 1)->getString();
    if (text)
        lua_pushstring(L, text);
    else
        lua_pushnil(L);
    return 1;
}

const luaL_Reg kReaderFunctions[] = {
    {"loadFile", loadFile},
    {"loadString", loadString},
    {nullptr, nullptr},
};

const luaL_Reg kWriterFunctions[] = {
    {"newToFile", newToFile},
    {"newToString", newToString},
    {"close", close},
    {"startDocument", startDocument},
    {"endDocument", endDocument},
    {"startElement", startElement},
    {"endElement", endElement},
    {"writeAttribute", writeAttribute},
    {"writeTextValue", writeTextValue},
    {"getString", getString},
    {nullptr, nullptr},
};

}  // namespace

extern "C" int luaopen_PGF(lua_State* L) {
    xmlInitParser();  // idempotent; libxml2's globals are set up before the first document
    luaL_register(L, "pgf", kReaderFunctions);
    const int pgf = lua_gettop(L);

    lua_newtable(L);
    luaL_register(L, nullptr, kReaderFunctions);
    lua_setfield(L, pgf, "parser");

    lua_newtable(L);
    luaL_register(L, nullptr, kWriterFunctions);
    luaL_newmetatable(L, kPGFWriterMT);
    lua_pushvalue(L, -2);
    lua_setfield(L, -2, "__index");
    lua_pushcfunction(L, collect);
    lua_setfield(L, -2, "__gc");
    lua_pop(L, 1);
    lua_setfield(L, pgf, "writer");
    return 1;
}
