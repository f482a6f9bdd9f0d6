// Through an engine state that opened "assetManager": the sample game's scenes load their
// pictures (PNG, JPEG, PVRTC) through the script's asset manager.
#include <map>

#include "engine/assets/DKEngineAssetManager.h"
#include "engine/assets/wrap_AssetManager.h"
#include "engine/tests/EngineTestSupport.h"
#include "platform/lua/LuaObject.h"
#include "port/tests/TextureTestSupport.h"

using namespace dktest;

namespace {

const std::string kSample = DK_SOURCE_DIR "/games/sample/Sample.app";

using Size = std::pair<int, int>;

std::map<std::string, Size> loadedImages(DK_State* state) {
    lua_getglobal(state->L, "sharedAssetManager");
    auto** slot = plat::lua::toSlot<DKEngineAssetManager>(state->L, -1, DKAssetManagerMetatable);
    lua_pop(state->L, 1);
    std::map<std::string, Size> sizes;
    if (!slot || !*slot) return sizes;
    for (const auto& [name, asset] : (*slot)->imageAssets())
        sizes[name] = {asset->image().width, asset->image().height};
    return sizes;
}

}  // namespace

using SampleAssets = EngineTest;

TEST_F(SampleAssets, EachSceneKeepsExactlyItsImages) {
    ASSERT_TRUE(useGL());
    testing::internal::CaptureStdout();
    open(save, kSample + "/engine32.luo");
    ASSERT_EQ(DK_LoadGame(state, (kSample + "/Sample.gameproj").c_str()), 0);
    DK_LoadInitialScene(state);
    EXPECT_EQ(loadedImages(state),
              (std::map<std::string, Size>{{"backdrop", {120, 80}}, {"logo", {64, 64}}}));
    DK_SetShouldChangeToScene(state, "play");
    EXPECT_EQ(loadedImages(state),
              (std::map<std::string, Size>{{"backdrop", {120, 80}}, {"crate", {32, 32}}}));
    close();
    testing::internal::GetCapturedStdout();
}
