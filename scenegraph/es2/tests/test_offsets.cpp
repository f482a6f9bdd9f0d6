// The copy offsets replicators and wrap spaces hand to their contents.
#include <gtest/gtest.h>

#include "scenegraph/es2/tests/ES2TestScene.h"

namespace {

const std::vector<SGRenderManagerES2::Offset>& offsetsOf(SGSpace* space) {
    return dynamic_cast<SGRenderManagerES2&>(space->renderManager()).offsets();
}

}  // namespace

TEST(CopyOffsets, ReplicatorAndWrapSpace) {
    ES2Scene s(32, 32);
    ASSERT_TRUE(s.context) << s.failure;
    auto* replicator = s.make<SGReplicatorNode>(SGNodeClassReplicatorNode);
    replicator->copies.setValue(3);
    replicator->spacing.setValue(10);
    replicator->angle.setValue(90);
    auto* wrap = s.make<SGWrapNode>(SGNodeClassWrapNode, replicator);
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
