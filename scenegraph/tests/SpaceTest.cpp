// Spaces and scenes: membership and ownership, per-frame computing, layer order and the choice
// of render manager.
#include <gtest/gtest.h>

#include <array>

#include "scenegraph/SGScene.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"

namespace {

using Names = std::vector<std::string>;

class Spaces : public ::testing::Test {
protected:
    TestSprite* sprite(const char* name, int32_t layer = 0) { return new TestSprite(name, &computed, layer); }
    Names drawnNames() const {
        Names names;
        for (const SGRenderNode* node : renderers.drawn)
            if (auto* s = dynamic_cast<const TestSprite*>(node)) names.push_back(s->name);
        return names;
    }

    RecordingRenderers renderers;
    Names computed;
};

}  // namespace

TEST_F(Spaces, RenderNodesComputeEveryFrameOthersOnlyWhenRead) {
    SGScene scene(nullptr, nullptr);
    auto *unread = new SumNode, *feeding = new SumNode;
    TestSprite* s = sprite("s");
    for (SGNode* n : std::initializer_list<SGNode*>{unread, feeding, s}) scene.defaultSpace().addNode(n);
    s->x.setValue(&feeding->output);
    for (int frame = 0; frame < 3; ++frame) scene.render();
    EXPECT_EQ(computed, (Names{"s", "s", "s"}));
    EXPECT_EQ((std::array{feeding->computes, unread->computes}), (std::array{1, 0}));
}

// The scene computes and draws its default space first, then its spaces in order; a space's
// nodes in insertion order until sorted by layer, nested spaces sorted too.
TEST_F(Spaces, OrderOfSpacesAndLayers) {
    SGScene scene(nullptr, nullptr), other(nullptr, nullptr);
    SGSpace* first = scene.createSpace(SGNodeClassSpace);
    scene.createSpace(0)->addNode(sprite("second"));
    first->addNode(sprite("top", 5));
    first->addNode(sprite("bottom", 1));
    auto* nested = static_cast<SGSpace*>(first->createNode(SGNodeClassSpace));
    nested->layer = 3;
    nested->addNode(sprite("n2", 2));
    nested->addNode(sprite("n1", 1));
    scene.defaultSpace().addNode(sprite("default"));
    scene.render();
    EXPECT_EQ(computed, (Names{"default", "top", "bottom", "n2", "n1", "second"}));
    EXPECT_EQ(drawnNames(), computed);

    first->sortRenderNodes();
    renderers.drawn.clear();
    scene.render();
    EXPECT_EQ(drawnNames(), (Names{"default", "bottom", "n1", "n2", "top", "second"}));

    SGSpace* second = scene.spaces()[1];
    scene.removeSpace(first);
    SGSpace* foreign = other.createSpace(0);
    scene.removeSpace(foreign);  // not made by this scene
    EXPECT_EQ(scene.spaces(), std::vector<SGSpace*>{second});
    EXPECT_EQ(other.spaces(), std::vector<SGSpace*>{foreign});
}

TEST_F(Spaces, RenderWithInitialStateInterleavesAndDrawsNothing) {
    SGScene initial(nullptr, nullptr), scene(nullptr, nullptr);
    for (const char* name : {"i0", "i1"}) initial.createSpace(0)->addNode(sprite(name));
    for (const char* name : {"s0", "s1", "s2"}) scene.createSpace(0)->addNode(sprite(name));
    scene.defaultSpace().addNode(sprite("default"));
    scene.renderWithInitialState(initial);  // one space fewer: nothing read past its end
    EXPECT_EQ(computed, (Names{"default", "i0", "s0", "i1", "s1", "s2"}));
    EXPECT_TRUE(renderers.drawn.empty());
}

TEST_F(Spaces, RemovedNodesAndDeadScenesLeaveWhatALinkStillHolds) {
    bool removedGone = false, insideGone = false;
    auto* outside = new SumNode;
    {
        SGScene scene(nullptr, nullptr);
        auto* removed = new SumNode(&removedGone);
        auto* inside = new SumNode(&insideGone);
        scene.defaultSpace().addNode(removed);
        scene.createSpace(0)->addNode(inside);
        outside->input1.setValue(&removed->output);
        outside->input2.setValue(&inside->output);
        scene.defaultSpace().removeNode(removed);
        scene.defaultSpace().removeNode(removed);  // no longer a member: nothing happens
        removed->input1.setValue(3.0f);
        EXPECT_EQ(outside->output.numberValue(), 3.0f);
    }
    EXPECT_FALSE(removedGone || insideGone);
    outside->release();
    EXPECT_TRUE(removedGone && insideGone);
}

TEST_F(Spaces, RendererIsChosenAtConstructionByTheGLES2Flag) {
    int made[2] = {0, 0};
    for (int api : {0, 1})
        SGSetRenderManagerMaker(SGRenderAPI(api), [&made, api, this]() -> std::unique_ptr<IRenderManager> {
            ++made[api];
            return std::make_unique<RecordingRenderManager>(&renderers.drawn);
        });
    {
        SGScene es1Scene(nullptr, nullptr);  // the scene's and its default space's
        DKShouldUseGLES2 = true;
        SGScene es2Scene(nullptr, nullptr);
        es2Scene.createSpace(0)->createNode(SGNodeClassSpace);
        es1Scene.createSpace(0);  // made now, so the current flag counts
        DKShouldUseGLES2 = false;
    }
    EXPECT_EQ((std::array{made[0], made[1]}), (std::array{2, 5}));

    // An injected manager replaces only the scene's own.
    auto injected = std::make_unique<RecordingRenderManager>(&renderers.drawn);
    RecordingRenderManager* raw = injected.get();
    SGScene scene(nullptr, nullptr, std::move(injected));
    EXPECT_EQ(&scene.renderManager(), raw);
    EXPECT_EQ(raw->drawList(), std::vector<SGRenderNode*>{&scene.defaultSpace()});
    EXPECT_EQ(made[0], 3);
}
