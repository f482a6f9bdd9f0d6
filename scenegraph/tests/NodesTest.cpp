// The value nodes (arithmetic, image flip; attribute nodes are the Lua tests') and the replicator
// and wrap spaces: ports, computations, and what createNode makes.
#include <gtest/gtest.h>

#include <memory>

#include "scenegraph/SGScene.h"
#include "scenegraph/nodes/SGArithmeticNode.h"
#include "scenegraph/nodes/SGImageFlipNode.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"

namespace {

// A node made outside any space, released at the end of a test.
template <class T>
using Held = std::unique_ptr<T, decltype([](T* node) { node->release(); })>;

size_t answeredIDs(SGNode* node) {
    size_t n = 0;
    for (int id = 0; id < SGPortIDCount; ++id) n += node->portForID(static_cast<SGPortID>(id)) != nullptr;
    return n;
}

}  // namespace

TEST(ArithmeticNode, OperationsByFirstCharacter) {
    const float pi = 3.14159265f;
    struct Case {
        const char* op;
        float a, b, expected;
    } cases[] = {
        {nullptr, 3, 4, 7},    {"-", 3, 4, -1},    {"*", 3, 4, 12}, {"/", 3, 4, 0.75f}, {"%", -7, 4, -3},
        {"sub", 2, pi / 2, 2}, {"cos", 2, pi, -2}, {"", 3, 4, 0},   {"add", 3, 4, 0},   {"+-", 3, 4, 7},
    };
    for (const Case& c : cases) {
        Held<SGArithmeticNode> node(new SGArithmeticNode);  // adds until told otherwise
        if (c.op) node->operation.setValue(c.op);
        node->input1.setValue(c.a);
        node->input2.setValue(c.b);
        EXPECT_NEAR(node->output.numberValue(), c.expected, 1e-5f) << '"' << (c.op ? c.op : "") << '"';
    }
    // A connected operation is ignored: it still adds.
    Held<SGArithmeticNode> node(new SGArithmeticNode);
    SGStringPort times("*");
    ASSERT_TRUE(node->operation.setValue(&times));
    dktest::setPorts(node.get(), {{SGPortID::input1, 3}, {SGPortID::input2, 4}});
    EXPECT_EQ(node->output.numberValue(), 7.0f);
}

TEST(ImageFlipNode, FlipsTheRectangleOverTheSameTexture) {
    Held<SGImageFlipNode> node(new SGImageFlipNode);
    node->input.value = {64, 32, 7, 128, 64, {0, 0, 0.5f, 0.75f}, 1};
    for (auto [h, v, expected] : {std::tuple{false, false, SGTextureRect{0, 0, 0.5f, 0.75f}},
                                  {true, false, {0.5f, 0, 0, 0.75f}},
                                  {true, true, {0.5f, 0.75f, 0, 0}}}) {
        dktest::setPorts(node.get(), {{SGPortID::flipHorizontal, h}, {SGPortID::flipVertical, v}});
        node->input.markAsDirty();
        EXPECT_EQ(node->output.imageValue().textureRect, expected);
        EXPECT_EQ(node->output.imageValue().texture, 7u);
    }
}

TEST(CreateNode, MakesEveryNodeTypeASpaceMayHoldWithItsPorts) {
    RecordingRenderers renderers;
    SGSpace space(nullptr, nullptr);
    // Class, class mask and identifiers answered (the colour node answers any name with its port).
    for (auto [cls, mask, ports] : {std::tuple{4u, 4u, 4},
                                    {16, 1 | 16, SGPortIDCount},
                                    {32, 32, 5},
                                    {256, 1 | 256, 21},
                                    {512, 1 | 1024 | 512, 3},
                                    {1024, 1 | 1024, 0},
                                    {2048, 1 | 2048, 14},
                                    {65536, 1 | 1024 | 65536, 6},
                                    {131072, 131072, 4}}) {
        SGNode* node = space.createNode(cls);
        ASSERT_NE(node, nullptr) << cls;
        EXPECT_EQ(node->nodeClass(), mask);
        EXPECT_EQ(answeredIDs(node), size_t(ports)) << cls;
        EXPECT_EQ(space.nodes().back(), node);
    }
    EXPECT_EQ(space.countRenderNodes(), 6);
    for (uint32_t cls : {0u, 2u, 8u, 128u, 2048u | 1u, 4u | 32u, 1024u | 128u, 0x80000000u})
        EXPECT_EQ(space.createNode(cls), nullptr) << cls;
}

TEST(ReplicatorAndWrap, ContentsComputeEveryFrameAndAreDrawnThroughTheirOwnManagers) {
    RecordingRenderers renderers;
    SGScene scene(nullptr, nullptr);
    std::vector<std::string> computed;
    std::vector<const SGRenderNode*> drawn{&scene.defaultSpace()}, contents;
    std::vector<SGSpace*> spaces;
    for (SGNodeClass cls : {SGNodeClassReplicatorNode, SGNodeClassWrapNode}) {
        drawn.push_back(spaces.emplace_back(static_cast<SGSpace*>(scene.defaultSpace().createNode(cls))));
        spaces.back()->addNode(new TestSprite(cls == SGNodeClassWrapNode ? "w" : "r", &computed));
        contents.push_back(spaces.back()->renderNodes().front());
    }
    scene.render();
    EXPECT_EQ(computed, (std::vector<std::string>{"r", "w"}));
    EXPECT_EQ(renderers.drawn, drawn);  // the recording manager logs the space only
    // Asked to draw by a renderer, each draws its contents through its own manager.
    renderers.drawn.clear();
    for (SGSpace* space : spaces) space->render();
    EXPECT_EQ(renderers.drawn, contents);
}

TEST(CreateNode, ClassesMadeAboveTheSceneGraphComeFromInstalledMakers) {
    RecordingRenderers renderers;
    SGSpace space(nullptr, reinterpret_cast<DKEngineAssetManager*>(0x10));
    SGSpace* askedBy = nullptr;
    SGSetNodeMaker(SGNodeClassImageLoaderNode, [&](SGSpace& s) -> SGNode* {
        askedBy = &s;
        return new SumNode;
    });
    SGSetNodeMaker(SGNodeClassSoundPlayerNode, [](SGSpace&) -> SGNode* { return nullptr; });
    EXPECT_FALSE(SGSetNodeMaker(SGNodeClassSpriteNode, [](SGSpace&) -> SGNode* { return new SumNode; }));

    SGNode* made = space.createNode(SGNodeClassImageLoaderNode);
    EXPECT_EQ(askedBy, &space);
    EXPECT_EQ(space.nodes(), std::vector<SGNode*>{made});
    EXPECT_EQ(space.createNode(SGNodeClassSoundPlayerNode), nullptr);  // the maker could not
    EXPECT_EQ(dynamic_cast<SumNode*>(space.createNode(SGNodeClassSpriteNode)), nullptr);

    EXPECT_TRUE(SGSetNodeMaker(SGNodeClassImageLoaderNode, {}));
    SGSetNodeMaker(SGNodeClassSoundPlayerNode, {});
    EXPECT_EQ(space.createNode(SGNodeClassImageLoaderNode), nullptr);
}
