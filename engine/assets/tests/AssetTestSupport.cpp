#include "engine/assets/tests/AssetTestSupport.h"

#include "engine/assets/DKAssetManagerLua.h"

namespace dktest {

ScriptProject::ScriptProject() : L_(luaL_newstate()) {
    luaL_openlibs(L_);
    lua_pushcfunction(L_, luaopen_assetManager);
    lua_call(L_, 0, 0);
    run(R"(
        lookups = {}
        project = { images = {}, sounds = {} }
        function project:pathForImage(name)
            lookups[name] = (lookups[name] or 0) + 1
            return self.images[name]
        end
        function project:pathForSound(name) return self.sounds[name] end
    )");
}

ScriptProject::~ScriptProject() {
    lua_close(L_);
}

namespace {
void setPath(lua_State* L, const char* table, const std::string& name, const char* path) {
    lua_getglobal(L, "project");
    lua_getfield(L, -1, table);
    if (path)
        lua_pushstring(L, path);
    else
        lua_pushnil(L);
    lua_setfield(L, -2, name.c_str());
    lua_pop(L, 2);
}
}  // namespace

void ScriptProject::setImagePath(const std::string& name, const char* path) {
    setPath(L_, "images", name, path);
}

void ScriptProject::setSoundPath(const std::string& name, const char* path) {
    setPath(L_, "sounds", name, path);
}

int ScriptProject::imageLookups(const std::string& name) {
    lua_getglobal(L_, "lookups");
    lua_getfield(L_, -1, name.c_str());
    int n = static_cast<int>(lua_tointeger(L_, -1));
    lua_pop(L_, 2);
    return n;
}

std::string ScriptProject::run(const std::string& chunk) {
    return runLua(L_, chunk);
}

}  // namespace dktest
