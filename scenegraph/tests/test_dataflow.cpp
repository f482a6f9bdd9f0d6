// Lazy pull-based dataflow, connections and the reference counts they hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "scenegraph/tests/TestNodes.h"

namespace {

// Holds the creation reference of each node and releases them at the end of a test.
struct Nodes {
    ~Nodes() {
        for (SumNode* n : all) n->release();
    }
    SumNode* make() { return all.emplace_back(new SumNode); }
    std::vector<int> computes() const {
        std::vector<int> counts;
        for (SumNode* n : all) counts.push_back(n->computes);
        return counts;
    }
    std::vector<SumNode*> all;
};

}  // namespace

TEST(Dataflow, NodeComputesOnFirstReadThenOncePerChange) {
    Nodes nodes;
    SumNode* n = nodes.make();
    n->output.numberValue();
    n->output.numberValue();
    EXPECT_EQ(n->computes, 1);
    n->input1.setValue(2.0f);
    n->input2.setValue(3.0f);
    EXPECT_EQ(n->output.numberValue(), 5.0f);
    n->input1.setValue(2.0f);  // the value it already holds marks nothing
    n->input1.value = 10.0f;   // nor does a direct write
    EXPECT_EQ(n->output.numberValue(), 5.0f);
    EXPECT_EQ(n->computes, 2);
}

TEST(Dataflow, ChangeRecomputesExactlyTheDownstreamOnce) {
    // a -> b -> d and a -> c -> d: a diamond.
    Nodes nodes;
    SumNode *a = nodes.make(), *b = nodes.make(), *c = nodes.make(), *d = nodes.make();
    b->input1.setValue(&a->output);
    c->input1.setValue(&a->output);
    d->input1.setValue(&b->output);
    d->input2.setValue(&c->output);
    a->input1.setValue(1.0f);
    EXPECT_EQ(d->output.numberValue(), 2.0f);

    b->input2.setValue(10.0f);  // only b and d lie downstream
    EXPECT_EQ(d->output.numberValue(), 12.0f);
    EXPECT_EQ(nodes.computes(), (std::vector<int>{1, 2, 1, 2}));

    a->input1.setValue(5.0f);  // everything, each once however many paths reach it
    EXPECT_EQ(d->output.numberValue(), 20.0f);
    EXPECT_EQ(nodes.computes(), (std::vector<int>{2, 3, 2, 3}));
}

TEST(Connections, ReadsGoThroughTheSourceConvertedByTheSource) {
    Nodes nodes;
    SumNode* n = nodes.make();
    SGStringPort text("3.5");
    n->input1.value = 100.0f;
    ASSERT_TRUE(n->input1.setValue(&text));
    EXPECT_EQ(n->output.numberValue(), 3.5f);
    n->input1.disconnect();
    EXPECT_EQ(n->input1.numberValue(), 100.0f);
    EXPECT_TRUE(text.destPorts().empty());
}

TEST(Connections, ADirtySourceMarksTheReader) {
    Nodes nodes;
    SumNode *reader = nodes.make(), *fresh = nodes.make();
    reader->output.numberValue();
    // fresh is dirty and unread: without marking the reader, changes to fresh would stop at fresh
    // and the reader would keep its old result for good.
    fresh->input1.value = 4.0f;
    reader->input2.setValue(&fresh->output);
    EXPECT_EQ(reader->output.numberValue(), 4.0f);
    fresh->input1.setValue(6.0f);
    EXPECT_EQ(reader->output.numberValue(), 6.0f);
}

TEST(Connections, EachLinkRetainsTheSourceNodeUntilItGoes) {
    bool gone = false;
    auto* source = new SumNode(&gone);
    auto* reader = new SumNode;
    reader->input1.setValue(&source->output);
    reader->input2.setValue(&source->output);
    EXPECT_EQ(source->retainCount(), 3);
    source->release();
    source->input1.setValue(7.0f);
    EXPECT_EQ(reader->output.numberValue(), 14.0f);  // still alive and computing
    reader->input1.disconnect();
    EXPECT_EQ(source->retainCount(), 1);
    reader->release();  // its ports let go as they die
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

TEST(Connections, ReconnectingLetsGoOfTheOldSource) {
    bool oldGone = false, newGone = false;
    auto* oldSource = new SumNode(&oldGone);
    auto* newSource = new SumNode(&newGone);
    auto* reader = new SumNode;
    reader->input1.setValue(&oldSource->output);
    reader->input1.setValue(&newSource->output);
    oldSource->release();
    EXPECT_TRUE(oldGone);

    // Moving to another port of a node whose only reference is the link keeps it alive.
    newSource->release();
    reader->input1.setValue(&newSource->input2);
    reader->input1.setValue(&newSource->input2);
    EXPECT_EQ(newSource->retainCount(), 1);
    const auto& dests = newSource->input2.destPorts();
    EXPECT_EQ(std::count(dests.begin(), dests.end(), &reader->input1), 1);
    reader->release();
    EXPECT_TRUE(newGone);
}

TEST(Connections, LinksWithinOneNodeDoNotKeepItAlive) {
    for (bool forward : {true, false}) {  // reader declared before or after its source
        bool gone = false;
        auto* node = new SumNode(&gone);
        SGNumberPort& reader = forward ? node->input1 : node->input2;
        SGNumberPort& source = forward ? node->input2 : node->input1;
        ASSERT_TRUE(reader.setValue(&source));
        source.setValue(4.0f);
        EXPECT_EQ(node->output.numberValue(), 8.0f);
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
    other->input1.setValue(2.0f);
    a->input1.setValue(1.0f);
    EXPECT_EQ(c->output.numberValue(), 4.0f);
}
