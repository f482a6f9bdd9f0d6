// Costs the frame pays in the scene graph before any drawing: lazy reads of clean and changed
// chains, dirty-marking across a fan-out, and a space computing its render nodes.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "scenegraph/SGRenderManagerBase.h"
#include "scenegraph/SGSpace.h"

namespace {

class SumNode : public SGNode {
public:
    SumNode() {
        addOutputPort(&output, SGPortValueType::NUMBER);
        addInputPort(&input1, SGPortValueType::NUMBER);
        addInputPort(&input2, SGPortValueType::NUMBER);
    }
    void compute() override { output.value = input1.numberValue() + input2.numberValue(); }
    SGNumberPort output, input1, input2;
};

class PositionedNode : public SGRenderNode {
public:
    PositionedNode() { addInputPort(&x, SGPortValueType::NUMBER); }
    void compute() override {
        if (!dirty) return;
        dirty = false;
        benchmark::DoNotOptimize(x.numberValue());
    }
    SGNumberPort x;
};

// Draws nothing: only the draw-list bookkeeping is measured.
class NoDrawing : public SGRenderManagerBase {
protected:
    void drawClear(SGRenderNode*) override {}
    void drawOrtho2DSpace(SGSpace*) override {}
    void drawParticleSystem(SGRenderNode*) override {}
    void drawReplicator(SGSpace*) override {}
    void drawSprite(SGRenderNode*) override {}
    void drawWrapSpace(SGSpace*) override {}
};

std::vector<SumNode*> makeChain(int length) {
    std::vector<SumNode*> chain;
    for (int i = 0; i < length; ++i) {
        chain.push_back(new SumNode);
        if (i > 0) chain[i]->input1.setValue(&chain[i - 1]->output);
    }
    return chain;
}

void releaseAll(std::vector<SumNode*>& nodes) {
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it) (*it)->release();
}

void BM_ReadCleanChainEnd(benchmark::State& state) {
    auto chain = makeChain(static_cast<int>(state.range(0)));
    chain.back()->output.numberValue();
    for (auto _ : state) benchmark::DoNotOptimize(chain.back()->output.numberValue());
    releaseAll(chain);
}
BENCHMARK(BM_ReadCleanChainEnd)->Arg(10)->Arg(100);

void BM_ChangeHeadReadChainEnd(benchmark::State& state) {
    auto chain = makeChain(static_cast<int>(state.range(0)));
    float v = 0;
    for (auto _ : state) {
        chain.front()->input2.setValue(v += 1.0f);
        benchmark::DoNotOptimize(chain.back()->output.numberValue());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    releaseAll(chain);
}
BENCHMARK(BM_ChangeHeadReadChainEnd)->Arg(10)->Arg(100);

void BM_MarkFanOut(benchmark::State& state) {
    SumNode source;
    std::vector<SumNode*> readers;
    for (int i = 0; i < state.range(0); ++i) {
        readers.push_back(new SumNode);
        readers.back()->input1.setValue(&source.output);
    }
    for (auto _ : state) {
        source.dirty = false;
        for (SumNode* r : readers) r->dirty = false;
        source.input1.markAsDirty();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    releaseAll(readers);
}
BENCHMARK(BM_MarkFanOut)->Arg(100)->Arg(1000);

// One frame's compute over a space of render nodes fed by one shared producer, of which a few
// change per frame.
void BM_SpaceComputeFrame(benchmark::State& state) {
    SGSpace space(nullptr, nullptr, std::make_unique<NoDrawing>());
    auto* producer = new SumNode;
    space.addNode(producer);
    std::vector<PositionedNode*> nodes;
    for (int i = 0; i < state.range(0); ++i) {
        auto* node = new PositionedNode;
        node->x.setValue(&producer->output);
        space.addNode(node);
        nodes.push_back(node);
    }
    float v = 0;
    for (auto _ : state) {
        producer->input1.setValue(v += 1.0f);
        space.compute();
        space.render();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SpaceComputeFrame)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
