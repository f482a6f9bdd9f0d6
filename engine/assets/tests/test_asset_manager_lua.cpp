// The "assetManager" library as scripts use it.
#include <gtest/gtest.h>

#include "engine/assets/tests/AssetTestSupport.h"

using namespace dktest;

namespace {

// names(list): "index=name ..." for the indices 0 to 10 that are set.
const char* kNames = R"(
    function names(t)
        local out = {}
        for i = 0, 10 do if t[i] then out[#out + 1] = i .. "=" .. t[i] end end
        return table.concat(out, " ")
    end
)";

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
        EXPECT_EQ(project.run(std::string(kNames) + "m = assetManager.new()"), "");
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override { project.run("assetManager.delete(m)"); }

    TempDir dir;
    ScriptProject project;
};

}  // namespace

TEST_F(AssetManagerLua, ListsAreSetsAndNamesComeBackInOrderFromZero) {
    EXPECT_EQ(project.run("return names(m:imageNames())"), "");
    EXPECT_EQ(project.run("m:loadImageForName('b'); m:loadImageForName('a');"
                          "return names(m:imageNames())"),
              "0=a 1=b");
    EXPECT_EQ(project.run("m:cleanupAndLoadImages({'a', 'b', 'a'}); return names(m:imageNames())"),
              "0=a 1=b");
    EXPECT_EQ(project.run("m:cleanupAndLoadImages({x = 1}); return names(m:imageNames())"),
              "0=1");  // keys are ignored, numbers are names
    EXPECT_EQ(project.run("assetManager.loadImages(m, {'a'}); m:cleanupUnusedImages({'a'});"
                          "m:unloadImage('a'); return names(m:imageNames())"),
              "");
    EXPECT_EQ(
        project.run("m:waitForAssets(); m.clearForFreedImages(42); m:unloadAllImages(); m:reloadAllImages();"
                    "return tostring(#m:soundNames() == 0 and next(m:imageNames()) == nil)"),
        "true");
}

TEST_F(AssetManagerLua, DeleteAndFlushForgiveWhatOtherCallsRefuse) {
    EXPECT_EQ(project.run("local other = assetManager.new(); other:delete(); other:delete();"
                          "assetManager.delete(nil); assetManager.delete({}); other:flushAssets();"
                          "assetManager.flushAssets(7); return 'ok'"),
              "ok");
    // Used after delete, or with a nil name: script errors, never a crash.
    EXPECT_NE(project.run("local other = assetManager.new(); other:delete(); other:imageNames()")
                  .find("after delete"),
              std::string::npos);
    EXPECT_NE(project.run("m:loadImageForName(nil)").find("string expected"), std::string::npos);
    EXPECT_NE(project.run("m:unloadImage()").find("expected 2 arguments"), std::string::npos);
    EXPECT_NE(project.run("m:loadImages({true})").find("strings or numbers"), std::string::npos);
    EXPECT_NE(project.run("assetManager.imageNames(42)").find("AssetManager.MT expected"), std::string::npos);
}

TEST_F(AssetManagerLua, ScriptErrorsInPathLookupsReachTheCaller) {
    project.run("function project:pathForImage(name) error('no path for ' .. name) end");
    EXPECT_NE(project.run("m:loadImageForName('a')").find("no path for a"), std::string::npos);
    EXPECT_NE(project.run("m:loadImages({'b'})").find("no path for b"), std::string::npos);
    EXPECT_EQ(lua_gettop(project.L()), 0);
}
