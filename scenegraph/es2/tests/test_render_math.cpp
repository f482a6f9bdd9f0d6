// Render math shared with the ES1 renderer, and the copy offsets replicators and wrap spaces hand
// to their contents.
#include <gtest/gtest.h>

#include "scenegraph/es2/SGRenderMath.h"
#include "scenegraph/es2/tests/ES2TestScene.h"

TEST(RenderMath, RotateIsCounterClockwiseAndSincosReducesDegrees) {
    float out[8];
    rotate4(10, 20, 2, 1, 90, out, 0);
    // Top-left (-2, +1) turns to (-1, -2).
    EXPECT_NEAR(out[0], 9, 1e-5);
    EXPECT_NEAR(out[1], 18, 1e-5);
    // Bottom-right (+2, -1) turns to (+1, +2).
    EXPECT_NEAR(out[6], 11, 1e-5);
    EXPECT_NEAR(out[7], 22, 1e-5);

    float six[12];
    rotate6(0, 0, 1, 1, 0, six, 2);
    EXPECT_EQ(std::vector<float>(six, six + 12),
              (std::vector<float>{-1, 1, -1, 1, 1, 1, -1, -1, 1, -1, 1, -1}));

    float s, c, s2, c2;
    sincos_d(450, s, c);
    sincos_d(90, s2, c2);
    EXPECT_EQ(s, s2);
    EXPECT_EQ(c, c2);
    EXPECT_EQ(s, 1.0f);
}

namespace {

const std::vector<SGRenderManagerES2::Offset>& offsetsOf(SGSpace* space) {
    return dynamic_cast<SGRenderManagerES2&>(space->renderManager()).offsets();
}

}  // namespace

TEST(CopyOffsets, ReplicatorAndWrapSpace) {
    ES2Scene s(32, 32);
    ASSERT_TRUE(s.context) << s.failure;
    auto* replicator = static_cast<SGReplicatorNode*>(s.ortho->createNode(SGNodeClassReplicatorNode));
    replicator->copies.setValue(3);
    replicator->spacing.setValue(10);
    replicator->angle.setValue(90);
    auto* wrap = static_cast<SGWrapNode*>(replicator->createNode(SGNodeClassWrapNode));
    wrap->wrapX.setValue(true);
    wrap->wrapWidth.setValue(320);
    wrap->x.setValue(200);
    s.frame();
    using Offsets = std::vector<SGRenderManagerES2::Offset>;
    EXPECT_EQ(offsetsOf(replicator), (Offsets{{0.5f, 0.5f}, {0.5f, 10.5f}, {0.5f, 20.5f}}));
    // Nested: every replicated copy is wrapped too, shifted one wrap width towards the middle.
    EXPECT_EQ(offsetsOf(wrap), (Offsets{{0.5f, 0.5f},
                                        {0.5f, 10.5f},
                                        {0.5f, 20.5f},
                                        {-319.5f, 0.5f},
                                        {-319.5f, 10.5f},
                                        {-319.5f, 20.5f}}));
    wrap->x.setValue(160);  // the middle itself counts as the far half
    s.frame();
    EXPECT_EQ(offsetsOf(wrap)[3].first, -319.5f);
    wrap->x.setValue(100);
    s.frame();
    EXPECT_EQ(offsetsOf(wrap)[3].first, 320.5f);
    replicator->copies.setValue(1);
    s.frame();
    EXPECT_EQ(offsetsOf(wrap), (Offsets{{0.5f, 0.5f}, {320.5f, 0.5f}}));
}
