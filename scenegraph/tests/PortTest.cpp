// Port values, names and conversions; lazy dataflow over connections and the references they hold.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <span>
#include <vector>

#include "scenegraph/tests/SceneGraphTestSupport.h"

namespace {

// Holds the creation reference of each node and releases them at the end of a test.
struct Nodes {
    ~Nodes() {
        for (SumNode* n : all) n->release();
    }
    SumNode* make() { return all.emplace_back(new SumNode); }
    std::vector<SumNode*> all;
};

}  // namespace

// Scripts and saved projects use these numbers.
TEST(PortNames, IdentifiersScriptsAndProjectsUse) {
    for (auto [name, id] : {std::pair{"value", 0}, {"near", 15}, {"blendingMode", 38}, {"wrap", 71}})
        EXPECT_EQ(SGPortIDForName(name), SGPortID(id)) << name;
    EXPECT_FALSE(SGPortIDForName("Value"));
}

TEST(PortConversions, NumbersTextAndNeutralValues) {
    SGNumberPort number;
    for (auto [v, text, i] : {std::tuple{1.0f / 3, "0.33", 0},
                              {150.0f, "1.5e+02", 150},
                              {-2.7f, "-2.7", -2},
                              {1e20f, "1e+20", 2147483647},
                              {NAN, "nan", 0}}) {  // never undefined
        number.value = v;
        EXPECT_EQ(number.stringValue(), text);
        EXPECT_EQ(number.intValue(), i) << v;
    }
    EXPECT_TRUE(number.boolValue());  // NaN
    // Text reads with stream rules: words are not booleans, garbage is zero.
    SGStringPort text;
    for (auto [s, n] : {std::pair{"true", 0}, {"2", 2}, {"-1", -1}, {" 42", 42}, {"abc", 0}}) {
        text.value = s;
        EXPECT_EQ(text.boolValue(), n != 0) << s;
        EXPECT_EQ(text.intValue(), n) << s;
    }
    // A kind a port does not hold reads as the neutral value.
    EXPECT_EQ(number.colorValue(), SGWhiteColor);
    EXPECT_TRUE(number.imageValue().isNull());
    EXPECT_EQ(SGColorPort().numberValue(), 0.0f);
}

TEST(Image, CropsAlongTheirOwnDirectionAndSizeFromTextureAndRect) {
    using Rect = SGTextureRect;
    for (auto [anchor, from, expected] : {std::tuple{0, Rect{0, 0, 1, 1}, Rect{0, 0, 0.5f, 1}},
                                          {1, {0, 0, 1, 1}, {0.25f, 0, 0.75f, 1}},
                                          {7, {0, 0, 1, 1}, {0, 0, 1, 1}},
                                          {2, {1, 0, 0, 1}, {0.5f, 0, 0, 1}}}) {
        from.cropHorizontally(0.5f, static_cast<SGAnchorMode>(anchor));
        EXPECT_EQ(from, expected) << anchor;
    }
    SGImage image{999, 0, 0, 512, 256, {0.625f, 0, 0, 0.5f}, 0};  // mirrored horizontally
    EXPECT_EQ((std::pair{image.getWidth(), image.getHeight()}), (std::pair{320, 128}));
}

TEST(Dataflow, ChangesRecomputeExactlyTheDownstreamOnce) {
    // a -> b -> d and a -> c -> d: a diamond.
    Nodes nodes;
    SumNode *a = nodes.make(), *b = nodes.make(), *c = nodes.make(), *d = nodes.make();
    auto computes = [&] { return std::vector{a->computes, b->computes, c->computes, d->computes}; };
    b->input1.setValue(&a->output);
    c->input1.setValue(&a->output);
    d->input1.setValue(&b->output);
    d->input2.setValue(&c->output);
    a->input1.setValue(1.0f);
    EXPECT_EQ(d->output.numberValue(), 2.0f);
    d->output.numberValue();
    EXPECT_EQ(computes(), (std::vector<int>{1, 1, 1, 1}));
    b->input2.setValue(10.0f);  // only b and d lie downstream
    b->input2.setValue(10.0f);  // the value it already holds marks nothing
    c->input2.value = 10.0f;    // nor does a direct write
    EXPECT_EQ(d->output.numberValue(), 12.0f);
    EXPECT_EQ(computes(), (std::vector<int>{1, 2, 1, 2}));
    a->input1.setValue(5.0f);  // everything, each once however many paths reach it
    EXPECT_EQ(d->output.numberValue(), 30.0f);
    EXPECT_EQ(computes(), (std::vector<int>{2, 3, 2, 3}));
}

TEST(Connections, ADirtySourceMarksTheReader) {
    Nodes nodes;
    SumNode *reader = nodes.make(), *fresh = nodes.make();
    reader->output.numberValue();
    // fresh is dirty and unread: without marking the reader, changes to fresh would stop at fresh
    // and the reader would keep its old result for good.
    fresh->input1.value = 4.0f;
    reader->input2.setValue(&fresh->output);
    fresh->input1.setValue(6.0f);
    EXPECT_EQ(reader->output.numberValue(), 6.0f);
}

TEST(Connections, EachLinkRetainsTheSourceNodeUntilItGoes) {
    bool gone = false, oldGone = false;
    auto* source = new SumNode(&gone);
    auto* old = new SumNode(&oldGone);
    auto* reader = new SumNode;
    reader->input1.setValue(&old->output);
    reader->input1.setValue(&source->output);  // reconnecting lets go of the old source
    old->release();
    EXPECT_TRUE(oldGone);
    reader->input2.setValue(&source->input2);  // a node only links hold
    source->release();
    source->input2.setValue(7.0f);
    EXPECT_EQ(reader->output.numberValue(), 14.0f);  // still alive and computing
    reader->input1.disconnect();                     // back to its own value
    EXPECT_EQ(source->retainCount(), 1);
    reader->release();  // a dying port detaches from its source
    EXPECT_TRUE(gone);

    // A port deleted through its base type (how a node may hold one) lets go too.
    gone = false;
    source = new SumNode(&gone);
    std::unique_ptr<SGPort> port = std::make_unique<SGStringPort>("held through a pointer");
    port->setValue(&source->output);
    source->release();
    port.reset();
    EXPECT_TRUE(gone);
}

TEST(Connections, LinksWithinOneNodeDoNotKeepItAlive) {
    for (bool forward : {true, false}) {  // reader declared before or after its source
        bool gone = false;
        auto* node = new SumNode(&gone);
        ASSERT_TRUE(
            (forward ? node->input1 : node->input2).setValue(forward ? &node->input2 : &node->input1));
        node->release();
        EXPECT_TRUE(gone);
    }
}

TEST(Connections, ConnectionsThatCloseACycleAreRefused) {
    Nodes nodes;
    SumNode *a = nodes.make(), *b = nodes.make(), *c = nodes.make(), *other = nodes.make();
    EXPECT_FALSE(a->input1.setValue(&a->input1));
    EXPECT_FALSE(a->input1.setValue(&a->output));  // a node feeding itself
    ASSERT_TRUE(b->input1.setValue(&a->output));
    ASSERT_TRUE(c->input1.setValue(&b->output));
    EXPECT_FALSE(a->input2.setValue(&c->input1));
    // A refused connection leaves the port's existing link and the counts as they were.
    ASSERT_TRUE(b->input2.setValue(&other->output));
    EXPECT_FALSE(b->input2.setValue(&c->output));
    EXPECT_EQ(b->input2.source(), &other->output);
    EXPECT_EQ(c->retainCount(), 1);
    // Converging paths are no cycle, and the graph still marks and computes.
    EXPECT_TRUE(c->input2.setValue(&a->output));
    a->input1.setValue(1.0f);
    EXPECT_EQ(c->output.numberValue(), 2.0f);
}

// Readers leave a shared port's list from either end or the middle (a scene torn down takes them
// off one end) and the others keep their order. Within one node a port may be listed twice (an
// input lists the node's outputs, and an output may also read that input): disconnecting drops
// both, as it always has.
TEST(Connections, ReadersLeaveInAnyOrderAndTheRestKeepTheirs) {
    const std::vector<std::vector<int>> orders = {
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {9, 8, 7, 6, 5}, {4, 5, 3, 6, 2}, {0, 9, 1, 8, 5}};
    for (const std::vector<int>& order : orders) {
        SGNumberPort source;
        std::vector<std::unique_ptr<SGNumberPort>> readers(10);
        std::vector<SGPort*> expected;
        for (auto& reader : readers) {
            reader = std::make_unique<SGNumberPort>();
            reader->setValue(&source);
            expected.push_back(reader.get());
        }
        for (int i : order) {
            std::erase(expected, readers[i].get());
            if (i % 2)
                readers[i]->disconnect();
            else
                readers[i].reset();  // a destroyed reader leaves too
            std::span<SGPort* const> left = source.destPorts();
            EXPECT_EQ(std::vector<SGPort*>(left.begin(), left.end()), expected) << "after reader " << i;
        }
    }
    auto* node = new SumNode;
    ASSERT_TRUE(node->output.setValue(&node->input1));
    EXPECT_EQ(node->input1.destPorts().size(), 2u);
    node->output.disconnect();
    EXPECT_TRUE(node->input1.destPorts().empty());
    node->release();
}
