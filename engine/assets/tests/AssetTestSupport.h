// A Lua state whose `project` answers asset paths from a table, and a manager with image files
// to point it at.
#pragma once

#include <gtest/gtest.h>
#include <lua.hpp>

#include <memory>
#include <set>
#include <string>

#include "engine/assets/DKAssetManagerLua.h"
#include "engine/assets/DKEngineAssetManager.h"
#include "engine/assets/SGAssetNodes.h"
#include "port/tests/TextureTestSupport.h"

namespace dktest {

class ScriptProject {
public:
    ScriptProject();
    lua_State* L() const { return L_; }
    // project.images[name] = path (nil removes it); likewise sounds.
    void setImagePath(const std::string& name, const char* path);
    void setSoundPath(const std::string& name, const char* path);
    // How often the script was asked for the image path of `name`.
    int imageLookups(const std::string& name);
    // Runs a chunk: its results as text, or "error: <message>" (see dktest::runLua).
    std::string run(const std::string& chunk) { return L_.run(chunk); }

private:
    LuaState L_{luaopen_assetManager, "assetManager"};
};

// A manager on a ScriptProject whose images "a" (4 x 4), "b" (8 x 8) and "c" (4 x 4) are PNG files.
class AssetTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Reference count of a loaded image.
    int count(const std::string& name) { return manager->imageAssets().at(name)->getReferenceCount(); }
    std::set<std::string> imageNames() const;
    // An image loader node (released by the caller) that has shown `name`.
    SGImageLoaderNode* showing(const std::string& name);

    TempDir dir;
    ScriptProject project;
    std::unique_ptr<DKEngineAssetManager> manager;
};

}  // namespace dktest
