// Scenes built from Lua and drawn by the ES2 renderer on Mesa: what the frame shows.
#include <GLES2/gl2.h>
#include <gtest/gtest.h>
#include <lua.hpp>

#include <array>
#include <memory>
#include <string>

#include "engine/sglua/wrap_Scenegraph.h"
#include "platform/gl/HeadlessGL.h"
#include "scenegraph/IRenderManager.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "tests/support/TestSupport.h"

namespace dktest {

constexpr int kSize = 64;

class SGLuaPixelTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        gl = plat::gl::HeadlessContext::create(kSize, kSize, plat::gl::Api::ES2, &error);
        if (!gl) GTEST_SKIP() << "no headless GL: " << error;
        gl->makeCurrent();
        DKShouldUseGLES2 = true;
        SGRenderManagerES2_setUpGL();  // installs the renderer too
        glViewport(0, 0, kSize, kSize);
        ASSERT_EQ(L.run(R"(
            local sg = scenegraph
            scene = sg.scene.new(nil, nil)
            local root, view = scene:defaultSpace(), scene:createSpace(sg.ortho2DSpace)
            local background = root:createNode(sg.colorNode)
            background.r:setValue(0) background.g:setValue(0) background.b:setValue(1)
            root:createNode(sg.clearNode).color:setValue(background.output)
            view.width:setValue(64) view.height:setValue(64) view.near:setValue(-1) view.far:setValue(1)
            -- A green square whose x is offset + 16, the offset an attribute node.
            offset, square = sg.attributeNode.new(sg.NUMBER), view:createNode(sg.spriteNode)
            local sum, green = view:createNode(sg.arithmeticNode), view:createNode(sg.colorNode)
            sum.input1:setValue(offset.value) sum.input2:setValue(16)
            square.x:setValue(sum.output) square.y:setValue(16) square.width:setValue(16) square.height:setValue(16)
            green.r:setValue(0) green.b:setValue(0)
            square.color:setValue(green.output)
        )"),
                  "");
    }
    void TearDown() override {
        if (gl) L.run("scene:delete()");
    }

    // Runs `chunk`, renders a frame and returns the pixel at (x, y) from the bottom-left corner.
    std::array<int, 3> frameAt(const std::string& chunk, int x, int y) {
        EXPECT_EQ(L.run(chunk + " scene:render()"), "");
        std::vector<uint8_t> pixels = gl->readPixels();
        size_t i = (static_cast<size_t>(kSize - 1 - y) * kSize + x) * 4;
        return {pixels[i], pixels[i + 1], pixels[i + 2]};
    }

    std::unique_ptr<plat::gl::HeadlessContext> gl;
    dktest::LuaState L{luaopen_scenegraph, "scenegraph"};
};

using RGB = std::array<int, 3>;

TEST_F(SGLuaPixelTest, AFrameShowsWhatTheScriptBuilt) {
    EXPECT_EQ(frameAt("", 16, 16), (RGB{0, 255, 0}));
    EXPECT_EQ(frameAt("", 40, 16), (RGB{0, 0, 255}));
    // A notified change of the attribute moves the square through the arithmetic node.
    EXPECT_EQ(frameAt("offset:setValue(24, true)", 40, 16), (RGB{0, 255, 0}));
    EXPECT_EQ(frameAt("", 16, 16), (RGB{0, 0, 255}));
    // Without notify nothing downstream hears of it: the sprite keeps its draw record, and even
    // when the sprite computes again the arithmetic node still holds its earlier sum.
    EXPECT_EQ(frameAt("offset:setValue(0)", 40, 16), (RGB{0, 255, 0}));
    EXPECT_EQ(frameAt("square.height:setValue(20, true)", 40, 16), (RGB{0, 255, 0}));
    EXPECT_EQ(frameAt("", 16, 16), (RGB{0, 0, 255}));
}

}  // namespace dktest
