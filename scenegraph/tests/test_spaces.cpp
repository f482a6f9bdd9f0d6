// Spaces and scenes: membership and ownership, per-frame computing, layer order and the choice
// of render manager.
#include <gtest/gtest.h>

#include "scenegraph/SGScene.h"
#include "scenegraph/tests/RecordingRenderManager.h"
#include "scenegraph/tests/TestNodes.h"

namespace {

class Spaces : public ::testing::Test {
protected:
    RecordingRenderers renderers;
    std::vector<std::string> computed;
};

std::vector<std::string> namesOf(const std::vector<const SGRenderNode*>& nodes) {
    std::vector<std::string> names;
    for (const SGRenderNode* node : nodes)
        if (auto* sprite = dynamic_cast<const TestSprite*>(node)) names.push_back(sprite->name);
    return names;
}

}  // namespace

TEST_F(Spaces, CreateNodeMakesOnlyWhatASpaceMayHold) {
    SGSpace space(nullptr, nullptr);
    for (uint32_t cls : {0u, 1u, 2u, 8u, 128u, 1024u | 1u, 1024u | 128u, 3u, 0x80000000u})
        EXPECT_EQ(space.createNode(cls), nullptr) << cls;
    EXPECT_TRUE(space.nodes().empty());

    SGNode* nested = space.createNode(SGNodeClassSpace);
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->nodeClass(), SGNodeClassRenderNode | SGNodeClassSpace);
    EXPECT_EQ(space.nodes(), std::vector<SGNode*>{nested});
    EXPECT_EQ(space.countRenderNodes(), 1);
    EXPECT_EQ(RecordingRenderManager::made, 2);  // every space owns a render manager
}

TEST_F(Spaces, MembershipCountsRenderNodesAndOwnsTheCreationReference) {
    bool sumGone = false;
    {
        SGSpace space(nullptr, nullptr);
        auto* sum = new SumNode(&sumGone);
        space.addNode(sum);
        space.addNode(new SumNode);
        space.addNode(new TestSprite("a", &computed));
        space.addNode(new TestSprite("b", &computed));
        EXPECT_EQ(space.countRenderNodes(), 2);

        space.removeNode(sum);
        EXPECT_TRUE(sumGone);
        SumNode stranger;
        space.removeNode(&stranger);  // not a member: nothing happens
        EXPECT_EQ(stranger.retainCount(), 1);
        EXPECT_EQ(space.nodes().size(), 3u);
    }
    EXPECT_EQ(RecordingRenderManager::destroyed, 1);
}

TEST_F(Spaces, RemovedNodeLivesWhileItFeedsAnother) {
    SGSpace space(nullptr, nullptr);
    bool gone = false;
    auto* source = new SumNode(&gone);
    auto* reader = new SumNode;
    space.addNode(source);
    space.addNode(reader);
    reader->input1.setValue(&source->output);
    space.removeNode(source);
    EXPECT_FALSE(gone);
    source->input1.setValue(3.0f);
    EXPECT_EQ(reader->output.numberValue(), 3.0f);
    EXPECT_EQ(source->computes, 1);
    reader->input1.disconnect();
    EXPECT_TRUE(gone);
}

TEST_F(Spaces, RenderNodesComputeEveryFrameOthersOnlyWhenRead) {
    SGScene scene(nullptr, nullptr);
    auto* unread = new SumNode;
    auto* feeding = new SumNode;
    auto* sprite = new TestSprite("s", &computed);
    scene.defaultSpace().addNode(unread);
    scene.defaultSpace().addNode(feeding);
    scene.defaultSpace().addNode(sprite);
    sprite->x.setValue(&feeding->output);
    for (int frame = 0; frame < 3; ++frame) scene.render();
    EXPECT_EQ(sprite->computes, 3);
    EXPECT_EQ(unread->computes, 0);
    EXPECT_EQ(feeding->computes, 1);
}

TEST_F(Spaces, DrawOrderFollowsInsertionUntilSorted) {
    SGScene scene(nullptr, nullptr);
    SGSpace& space = scene.defaultSpace();
    space.addNode(new TestSprite("top", &computed, 5));
    space.addNode(new TestSprite("bottom", &computed, 1));
    auto* nested = static_cast<SGSpace*>(space.createNode(SGNodeClassSpace));
    nested->layer = 3;
    nested->addNode(new TestSprite("n2", &computed, 2));
    nested->addNode(new TestSprite("n1", &computed, 1));

    scene.render();
    EXPECT_EQ(namesOf(renderers.drawn), (std::vector<std::string>{"top", "bottom", "n2", "n1"}));

    renderers.drawn.clear();
    space.sortRenderNodes();  // sorts the nested space too
    scene.render();
    EXPECT_EQ(namesOf(renderers.drawn), (std::vector<std::string>{"bottom", "n1", "n2", "top"}));
    EXPECT_EQ(space.renderNodes()[0]->layer, 1);
    EXPECT_EQ(space.renderNodes()[1], nested);

    // Layer changes wait for the next sort.
    renderers.drawn.clear();
    nested->layer = 9;
    scene.render();
    EXPECT_EQ(namesOf(renderers.drawn), (std::vector<std::string>{"bottom", "n1", "n2", "top"}));
}

TEST_F(Spaces, SceneComputesDefaultSpaceFirstThenSpacesInOrder) {
    SGScene scene(nullptr, nullptr);
    SGSpace* first = scene.createSpace(SGNodeClassSpace);
    SGSpace* second = scene.createSpace(0);
    second->addNode(new TestSprite("second", &computed));
    first->addNode(new TestSprite("first", &computed));
    scene.defaultSpace().addNode(new TestSprite("default", &computed));
    scene.render();
    EXPECT_EQ(computed, (std::vector<std::string>{"default", "first", "second"}));
    EXPECT_EQ(namesOf(renderers.drawn), computed);

    scene.removeSpace(first);
    SGScene other(nullptr, nullptr);
    SGSpace* foreign = other.createSpace(0);
    scene.removeSpace(foreign);  // not made by this scene
    EXPECT_EQ(scene.spaces(), std::vector<SGSpace*>{second});
    EXPECT_EQ(other.spaces(), std::vector<SGSpace*>{foreign});
}

TEST_F(Spaces, OrthoSpaceAnswersItsCameraPorts) {
    SGScene scene(nullptr, nullptr);
    SGSpace* ortho = scene.createSpace(SGNodeClassOrtho2DSpace);
    EXPECT_TRUE(ortho->hasClass(SGNodeClassRenderNode | SGNodeClassSpace | SGNodeClassOrtho2DSpace));
    for (const char* name : {"x", "y", "width", "height", "near", "far", "viewRotation", "modelRotation"}) {
        SGPort* port = ortho->portForID(*SGPortIDForName(name));
        ASSERT_NE(port, nullptr) << name;
        EXPECT_EQ(port->type(), SGPortValueType::NUMBER);
        EXPECT_EQ(port->numberValue(), 0.0f);
    }
    EXPECT_EQ(ortho->portForID(SGPortID::value), nullptr);
    EXPECT_EQ(scene.createSpace(SGNodeClassSpace)->portForID(SGPortID::x), nullptr);
}

TEST_F(Spaces, RenderWithInitialStateInterleavesAndDrawsNothing) {
    SGScene initial(nullptr, nullptr), scene(nullptr, nullptr);
    for (const char* name : {"i0", "i1"}) initial.createSpace(0)->addNode(new TestSprite(name, &computed));
    for (const char* name : {"s0", "s1", "s2"})
        scene.createSpace(0)->addNode(new TestSprite(name, &computed));
    scene.defaultSpace().addNode(new TestSprite("default", &computed));
    scene.renderWithInitialState(initial);
    // The initial scene has one space fewer: nothing is read past its end.
    EXPECT_EQ(computed, (std::vector<std::string>{"default", "i0", "s0", "i1", "s1", "s2"}));
    EXPECT_TRUE(renderers.drawn.empty());
    EXPECT_EQ(static_cast<RecordingRenderManager&>(scene.renderManager()).renders, 0);
}

TEST_F(Spaces, SceneReleasesSpacesAndNodesButNotWhatALinkStillHolds) {
    bool kept = false;
    auto* outside = new SumNode;
    {
        SGScene scene(nullptr, nullptr);
        auto* inside = new SumNode(&kept);
        scene.createSpace(0)->addNode(inside);
        outside->input1.setValue(&inside->output);
    }
    EXPECT_EQ(RecordingRenderManager::made, RecordingRenderManager::destroyed);
    EXPECT_FALSE(kept);
    outside->release();
    EXPECT_TRUE(kept);
}

TEST_F(Spaces, RendererIsChosenAtConstructionByTheGLES2Flag) {
    int es1 = 0, es2 = 0;
    auto previous1 = SGSetRenderManagerMaker(SGRenderAPI::ES1, [&]() -> std::unique_ptr<IRenderManager> {
        ++es1;
        return std::make_unique<RecordingRenderManager>(&renderers.drawn);
    });
    auto previous2 = SGSetRenderManagerMaker(SGRenderAPI::ES2, [&]() -> std::unique_ptr<IRenderManager> {
        ++es2;
        return std::make_unique<RecordingRenderManager>(&renderers.drawn);
    });
    {
        SGScene es1Scene(nullptr, nullptr);  // scene and default space
        DKShouldUseGLES2 = true;
        SGScene es2Scene(nullptr, nullptr);
        es2Scene.createSpace(0)->createNode(SGNodeClassSpace);
        es1Scene.createSpace(0);  // made now, so the current flag counts
        DKShouldUseGLES2 = false;
    }
    EXPECT_EQ(es1, 2);
    EXPECT_EQ(es2, 5);

    // An injected manager replaces only the scene's own.
    auto injected = std::make_unique<RecordingRenderManager>(&renderers.drawn);
    RecordingRenderManager* raw = injected.get();
    SGScene scene(nullptr, nullptr, std::move(injected));
    EXPECT_EQ(&scene.renderManager(), raw);
    EXPECT_EQ(raw->drawList(), std::vector<SGRenderNode*>{&scene.defaultSpace()});
    EXPECT_EQ(es1, 3);
    SGSetRenderManagerMaker(SGRenderAPI::ES1, previous1);
    SGSetRenderManagerMaker(SGRenderAPI::ES2, previous2);
}
