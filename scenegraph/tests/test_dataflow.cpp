// Lazy pull-based dataflow, connections and the reference counts they hold.
#include <gtest/gtest.h>

#include <memory>

#include "scenegraph/tests/TestNodes.h"

namespace {

// Releases a node at the end of a test unless the test already gave up its reference.
struct Owned {
    explicit Owned(SumNode* n) : node(n) {}
    ~Owned() {
        if (node) node->release();
    }
    SumNode* operator->() const { return node; }
    SumNode* node;
};

}  // namespace

TEST(Dataflow, NodeComputesOnceOnFirstReadAndOncePerChange) {
    Owned n(new SumNode);
    EXPECT_EQ(n->computes, 0);  // created dirty, but nothing reads yet
    EXPECT_EQ(n->output.numberValue(), 0.0f);
    EXPECT_EQ(n->output.numberValue(), 0.0f);
    EXPECT_EQ(n->computes, 1);

    n->input1.setValue(2.0f);
    n->input2.setValue(3.0f);
    EXPECT_TRUE(n->dirty);
    EXPECT_EQ(n->output.numberValue(), 5.0f);
    EXPECT_EQ(n->computes, 2);

    n->input1.setValue(2.0f);  // the same value marks nothing
    EXPECT_FALSE(n->dirty);
    EXPECT_EQ(n->output.numberValue(), 5.0f);
    EXPECT_EQ(n->computes, 2);

    n->input1.value = 10.0f;  // a direct write marks nothing either
    EXPECT_EQ(n->output.numberValue(), 5.0f);
    EXPECT_EQ(n->computes, 2);
}

TEST(Dataflow, ChangeRecomputesExactlyTheDownstream) {
    // a -> b -> c, and a -> d (a side branch).
    Owned a(new SumNode), b(new SumNode), c(new SumNode), d(new SumNode);
    b->input1.setValue(&a->output);
    c->input1.setValue(&b->output);
    d->input1.setValue(&a->output);
    a->input1.setValue(1.0f);
    EXPECT_EQ(c->output.numberValue(), 1.0f);
    EXPECT_EQ(d->output.numberValue(), 1.0f);
    EXPECT_EQ(a->computes, 1);

    b->input2.setValue(10.0f);  // only b and c are downstream of this change
    EXPECT_FALSE(a->dirty);
    EXPECT_FALSE(d->dirty);
    EXPECT_EQ(c->output.numberValue(), 11.0f);
    EXPECT_EQ(d->output.numberValue(), 1.0f);
    EXPECT_EQ(a->computes, 1);
    EXPECT_EQ(b->computes, 2);
    EXPECT_EQ(c->computes, 2);
    EXPECT_EQ(d->computes, 1);

    a->input1.setValue(5.0f);  // everything is downstream of a
    EXPECT_EQ(c->output.numberValue(), 15.0f);
    EXPECT_EQ(d->output.numberValue(), 5.0f);
    EXPECT_EQ(a->computes, 2);
    EXPECT_EQ(b->computes, 3);
    EXPECT_EQ(c->computes, 3);
    EXPECT_EQ(d->computes, 2);
}

TEST(Dataflow, DiamondComputesEachNodeOnce) {
    Owned top(new SumNode), left(new SumNode), right(new SumNode), bottom(new SumNode);
    left->input1.setValue(&top->output);
    right->input1.setValue(&top->output);
    bottom->input1.setValue(&left->output);
    bottom->input2.setValue(&right->output);
    top->input1.setValue(2.0f);
    EXPECT_EQ(bottom->output.numberValue(), 4.0f);
    top->input1.setValue(3.0f);
    EXPECT_EQ(bottom->output.numberValue(), 6.0f);
    EXPECT_EQ(top->computes, 2);
    EXPECT_EQ(left->computes, 2);
    EXPECT_EQ(right->computes, 2);
    EXPECT_EQ(bottom->computes, 2);
}

TEST(Dataflow, MarkingStopsAtTheFirstDirtyNode) {
    Owned a(new SumNode), b(new SumNode);
    b->input1.setValue(&a->output);
    b->output.numberValue();
    a->input1.setValue(1.0f);
    EXPECT_TRUE(b->dirty);
    b->dirty = false;          // pretend b was recomputed by other means
    a->input1.setValue(2.0f);  // a is still dirty: the walk ends there
    EXPECT_FALSE(b->dirty);
}

TEST(Connections, ConnectedPortReadsThroughItsSourceConvertedByTheSource) {
    Owned n(new SumNode);
    SGStringPort text("3.5");
    n->input1.value = 100.0f;
    ASSERT_TRUE(n->input1.setValue(&text));
    EXPECT_EQ(n->output.numberValue(), 3.5f);
    text.value = "abc";
    n->input1.markAsDirty();
    EXPECT_EQ(n->output.numberValue(), 0.0f);
    n->input1.disconnect();
    EXPECT_EQ(n->input1.numberValue(), 100.0f);  // its own value again
    EXPECT_TRUE(text.destPorts().empty());
}

TEST(Connections, ConnectingToACleanSourceMarksNothing) {
    Owned a(new SumNode), b(new SumNode);
    a->output.numberValue();
    b->output.numberValue();
    b->input1.setValue(&a->output);
    EXPECT_FALSE(b->dirty);
    b->input1.disconnect();
    EXPECT_FALSE(b->dirty);
}

TEST(Connections, ConnectingToADirtySourceLetsLaterChangesThrough) {
    Owned consumer(new SumNode), producer(new SumNode);
    consumer->output.numberValue();  // clean, computed from its own inputs
    producer->input1.value = 4.0f;   // producer is new, hence dirty, and nobody has read it
    consumer->input1.setValue(&producer->output);
    EXPECT_EQ(consumer->output.numberValue(), 4.0f);
    producer->input1.setValue(6.0f);
    EXPECT_EQ(consumer->output.numberValue(), 6.0f);
}

TEST(Connections, ReconnectingLeavesTheOldSource) {
    bool oldGone = false;
    auto* oldSource = new SumNode(&oldGone);
    Owned newSource(new SumNode), reader(new SumNode);
    reader->input1.setValue(&oldSource->output);
    EXPECT_EQ(oldSource->retainCount(), 2);
    reader->input1.setValue(&newSource->output);
    EXPECT_TRUE(oldSource->output.destPorts().empty());
    EXPECT_EQ(oldSource->retainCount(), 1);
    EXPECT_EQ(newSource->retainCount(), 2);
    oldSource->release();
    EXPECT_TRUE(oldGone);
    // Reconnecting to the port it already reads keeps one link and one reference.
    reader->input1.setValue(&newSource->output);
    EXPECT_EQ(newSource->output.destPorts().size(), 1u);
    EXPECT_EQ(newSource->retainCount(), 2);
}

TEST(Connections, ReconnectingToTheSameNodeWhoseOnlyReferenceIsTheLink) {
    bool gone = false;
    auto* source = new SumNode(&gone);
    Owned reader(new SumNode);
    reader->input1.setValue(&source->output);
    source->release();  // now only the connection keeps it
    reader->input1.setValue(&source->input2);
    EXPECT_FALSE(gone);
    reader->input1.disconnect();
    EXPECT_TRUE(gone);
}

TEST(Connections, LinkKeepsTheSourceNodeAliveUntilDisconnectOrReaderDies) {
    bool sourceGone = false;
    auto* source = new SumNode(&sourceGone);
    auto* reader = new SumNode;
    reader->input1.setValue(&source->output);
    reader->input2.setValue(&source->output);  // one reference per connection
    EXPECT_EQ(source->retainCount(), 3);
    source->release();
    EXPECT_FALSE(sourceGone);
    source->input1.setValue(7.0f);
    EXPECT_EQ(reader->output.numberValue(), 14.0f);  // still computes on reads
    reader->input1.disconnect();
    EXPECT_EQ(source->retainCount(), 1);
    reader->release();  // its ports disconnect as they die
    EXPECT_TRUE(sourceGone);
}

TEST(Connections, PortsWithinOneNodeDoNotKeepItAlive) {
    bool gone = false;
    auto* node = new SumNode(&gone);
    ASSERT_TRUE(node->input1.setValue(&node->input2));  // input1 follows input2
    EXPECT_EQ(node->retainCount(), 1);
    node->input2.setValue(4.0f);
    EXPECT_EQ(node->output.numberValue(), 8.0f);
    node->release();
    EXPECT_TRUE(gone);
    // The reverse member order: the reader dies after its source.
    gone = false;
    node = new SumNode(&gone);
    ASSERT_TRUE(node->input2.setValue(&node->input1));
    node->release();
    EXPECT_TRUE(gone);
}

TEST(Connections, PortOwnedThroughItsBaseTypeLetsGoOfItsSource) {
    bool gone = false;
    auto* source = new SumNode(&gone);
    std::unique_ptr<SGPort> port = std::make_unique<SGStringPort>("held by a node through a pointer");
    ASSERT_TRUE(port->setValue(&source->output));
    source->release();
    EXPECT_FALSE(gone);
    port.reset();
    EXPECT_TRUE(gone);
}

TEST(Connections, ConnectionsThatCloseACycleAreRefused) {
    Owned a(new SumNode), b(new SumNode), c(new SumNode);
    EXPECT_FALSE(a->input1.setValue(&a->input1));
    EXPECT_FALSE(a->input1.setValue(&a->output));  // a node feeding itself
    EXPECT_EQ(a->retainCount(), 1);

    ASSERT_TRUE(b->input1.setValue(&a->output));
    ASSERT_TRUE(c->input1.setValue(&b->output));
    EXPECT_FALSE(a->input2.setValue(&c->output));
    EXPECT_FALSE(a->input2.setValue(&b->output));
    EXPECT_FALSE(a->input2.setValue(&c->input1));

    // A refused connection leaves the port's existing link as it was.
    Owned other(new SumNode);
    ASSERT_TRUE(b->input2.setValue(&other->output));
    EXPECT_FALSE(b->input2.setValue(&c->output));
    EXPECT_EQ(b->input2.source(), &other->output);
    EXPECT_EQ(c->retainCount(), 1);
    EXPECT_EQ(other->retainCount(), 2);

    // The graph still marks and computes.
    a->input1.setValue(1.0f);
    other->input1.setValue(2.0f);
    EXPECT_EQ(c->output.numberValue(), 3.0f);

    // Converging paths are not cycles.
    EXPECT_TRUE(c->input2.setValue(&a->output));
    a->input1.setValue(2.0f);
    EXPECT_EQ(c->output.numberValue(), 6.0f);
}
