// The "assetManager" library as scripts use it: the script's project answers the paths.
#include <gtest/gtest.h>

#include "engine/assets/wrap_AssetManager.h"
#include "port/tests/TextureTestSupport.h"
#include "tests/support/TestSupport.h"

namespace dktest {

class AssetManagerLua : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dktest::useGL());
        dktest::writePNG(dir.file("image.png"), 2, 2, 3, std::vector<uint8_t>(12, 9));
        dktest::setGlobal(L, "png", dir.file("image.png"));
        // names(list): "index=name ..." for the indices 0 to 10 that are set.
        testing::internal::CaptureStdout();
        EXPECT_EQ(L.run(R"(
            project, lookups = { images = { a = png, b = png, ["1"] = png } }, 0
            function project:pathForImage(name) lookups = lookups + 1 return self.images[name] end
            function project:pathForSound(name) return nil end
            function names(t)
                local out = {}
                for i = 0, 10 do if t[i] then out[#out + 1] = i .. "=" .. t[i] end end
                return table.concat(out, " ")
            end
            m = assetManager.new())"),
                  "");
        testing::internal::GetCapturedStdout();
    }
    void TearDown() override { L.run("assetManager.delete(m)"); }

    dktest::TempDir dir;
    dktest::LuaState L{luaopen_assetManager, "assetManager"};
};

TEST_F(AssetManagerLua, ListsAreSetsAndNamesComeBackInOrderFromZero) {
    const char* const cases[][2] = {
        {"", ""},
        {"m:loadImageForName('b') m:loadImageForName('a') m:loadImageForName('a')", "0=a 1=b"},
        {"m:cleanupAndLoadImages({'a', 'b', 'a'})", "0=a 1=b"},
        {"m:cleanupAndLoadImages({x = 1})", "0=1"},  // keys are ignored, numbers are names
        {"assetManager.loadImages(m, {'a'}) m:cleanupUnusedImages({'a'}) m:unloadImage('a')", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(L.run(std::string(c[0]) + " return names(m:imageNames())"), c[1]) << c[0];
    // loadImageForName asks the script even for a loaded name; the list loads ask for new names only.
    EXPECT_EQ(L.run("return lookups"), "5");
    EXPECT_EQ(L.run("m:waitForAssets() m.clearForFreedImages(42) m:unloadAllImages() m:reloadAllImages() "
                    "return #m:soundNames() == 0 and next(m:imageNames()) == nil"),
              "true");
}

TEST_F(AssetManagerLua, DeleteAndFlushForgiveWhatOtherCallsRefuse) {
    EXPECT_EQ(L.run("local other = assetManager.new() other:delete() other:delete() assetManager.delete(nil) "
                    "assetManager.delete({}) other:flushAssets() assetManager.flushAssets(7) return 'ok'"),
              "ok");
    // Used after delete, with a missing argument or a wrong name: script errors, never a crash.
    const char* const cases[][2] = {
        {"local other = assetManager.new() other:delete() other:imageNames()", "after delete"},
        {"m:loadImageForName(nil)", "string expected"},
        {"m:unloadImage()", "expected 2 arguments, got 1"},
        {"m:loadImages({true})", "strings or numbers"},
        {"assetManager.imageNames(42)", "AssetManager.MT expected"},
    };
    for (const auto& c : cases) EXPECT_NE(L.run(c[0]).find(c[1]), std::string::npos) << c[0];
}

TEST_F(AssetManagerLua, ScriptErrorsInPathLookupsReachTheCaller) {
    L.run("function project:pathForImage(name) error('no path for ' .. name) end");
    EXPECT_NE(L.run("m:loadImageForName('a')").find("no path for a"), std::string::npos);
    EXPECT_NE(L.run("m:loadImages({'b'})").find("no path for b"), std::string::npos);
    EXPECT_EQ(lua_gettop(L), 0);
}

// Path look-ups are asked on the main thread: a coroutine that made the manager may be collected
// long before its next load.
TEST_F(AssetManagerLua, AManagerOutlivesTheCoroutineThatMadeIt) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(L.run("local co = coroutine.create(function() return assetManager.new() end) "
                    "local _, made = coroutine.resume(co) kept = made"),
              "");
    testing::internal::GetCapturedStdout();
    L.run("collectgarbage('collect') collectgarbage('collect')");
    EXPECT_EQ(L.run("kept:loadImageForName('a') coroutine.wrap(function() kept:loadImages({'b'}) end)() "
                    "return names(kept:imageNames()), lookups"),
              "0=a 1=b,2");
    EXPECT_EQ(lua_gettop(L), 0);
    L.run("kept:delete()");
}

}  // namespace dktest
