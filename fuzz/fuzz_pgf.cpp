// pgf documents: XML text read into Lua element tables.
#include <lua.hpp>

#include "engine/documents/PGFXMLParser.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lua_State* L = luaL_newstate();
    if (!L) return 0;
    PGFXMLParser parser(L, reinterpret_cast<const char*>(data), size);
    parser.parse();
    lua_close(L);
    return 0;
}
