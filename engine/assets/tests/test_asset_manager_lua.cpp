// The "assetManager" library as scripts use it.
#include <gtest/gtest.h>

#include "engine/assets/tests/AssetTestSupport.h"

using namespace dktest;

namespace {

class AssetManagerLua : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useGL());
        for (const char* name : {"a", "b", "1"}) {
            std::string path = dir.file(std::string(name) + ".png");
            writePNG(path, 2, 2, 3, std::vector<uint8_t>(12, 9));
            project.setImagePath(name, path.c_str());
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(project.run("m = assetManager.new()"), "");
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override { project.run("assetManager.delete(m)"); }

    // Runs a chunk that returns a string; "error: ..." when it fails.
    std::string eval(const std::string& chunk) {
        lua_State* L = project.L();
        if (luaL_loadstring(L, chunk.c_str()) || lua_pcall(L, 0, 1, 0)) {
            std::string message = std::string("error: ") + lua_tostring(L, -1);
            lua_pop(L, 1);
            return message;
        }
        std::string result = lua_isnil(L, -1) ? "nil" : lua_tostring(L, -1);
        lua_pop(L, 1);
        return result;
    }

    ScratchDir dir;
    ScriptProject project;
};

const char* kNames = R"(
    local function names(t)
        local out = {}
        for i = 0, 10 do if t[i] then out[#out + 1] = i .. "=" .. t[i] end end
        return table.concat(out, " ")
    end
)";

}  // namespace

TEST_F(AssetManagerLua, ListsAreSetsAndNamesComeBackInOrderFromZero) {
    EXPECT_EQ(eval(std::string(kNames) + "return names(m:imageNames())"), "");
    EXPECT_EQ(eval(std::string(kNames) + "m:loadImageForName('b'); m:loadImageForName('a');"
                                         "return names(m:imageNames())"),
              "0=a 1=b");
    EXPECT_EQ(
        eval(std::string(kNames) + "m:cleanupAndLoadImages({'a', 'b', 'a'}); return names(m:imageNames())"),
        "0=a 1=b");
    EXPECT_EQ(eval(std::string(kNames) + "m:cleanupAndLoadImages({x = 1}); return names(m:imageNames())"),
              "0=1");  // keys are ignored, numbers are names
    EXPECT_EQ(eval(std::string(kNames) + "assetManager.loadImages(m, {'a'}); m:cleanupUnusedImages({'a'});"
                                         "m:unloadImage('a'); return names(m:imageNames())"),
              "");
    EXPECT_EQ(eval("m:waitForAssets(); m.clearForFreedImages(42); m:unloadAllImages(); m:reloadAllImages();"
                   "return tostring(#m:soundNames() == 0 and next(m:imageNames()) == nil)"),
              "true");
}

TEST_F(AssetManagerLua, DeleteAndFlushForgiveWhatOtherCallsRefuse) {
    EXPECT_EQ(eval("local other = assetManager.new(); other:delete(); other:delete();"
                   "assetManager.delete(nil); assetManager.delete({}); other:flushAssets();"
                   "assetManager.flushAssets(7); return 'ok'"),
              "ok");
    // Used after delete, or with a nil name: script errors, never a crash.
    EXPECT_NE(
        eval("local other = assetManager.new(); other:delete(); other:imageNames()").find("after delete"),
        std::string::npos);
    EXPECT_NE(eval("m:loadImageForName(nil)").find("string expected"), std::string::npos);
    EXPECT_NE(eval("m:unloadImage()").find("expected 2 arguments"), std::string::npos);
    EXPECT_NE(eval("m:loadImages({true})").find("strings or numbers"), std::string::npos);
    EXPECT_NE(eval("assetManager.imageNames(42)").find("AssetManager.MT expected"), std::string::npos);
}

TEST_F(AssetManagerLua, ScriptErrorsInPathLookupsReachTheCaller) {
    project.run("function project:pathForImage(name) error('no path for ' .. name) end");
    EXPECT_NE(eval("m:loadImageForName('a')").find("no path for a"), std::string::npos);
    EXPECT_NE(eval("m:loadImages({'b'})").find("no path for b"), std::string::npos);
    EXPECT_EQ(lua_gettop(project.L()), 0);
}
