// Costs the frame pays in the scene graph before any drawing: lazy reads of clean and changed
// chains, dirty-marking across a fan-out, and a space computing its render nodes.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "scenegraph/SGRenderManagerBase.h"
#include "scenegraph/SGSpace.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

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

// A particle system's frame as the renderers run it: the emitter record copied from the ports, then
// every particle of a pool that keeps respawning advanced once (no vertices written).
void BM_ParticleFrame(benchmark::State& state) {
    SGParticleSystemNode node;
    node.numParticles.setValue(static_cast<int>(state.range(0)));
    node.lifestart.setValue(2.0f);
    node.lifetime.setValue(1.5f);
    node.speed.setValue(40.0f);
    node.sizeTransitionTime.setValue(1.0f);
    node.colorTransitionTime.setValue(1.0f);
    node.spawnParticles.setValue(true);
    float t = 0.0f;
    for (auto _ : state) {
        node.time.setValue(t += 1.0f / 60.0f);
        node.compute();
        for (int32_t i = 0; i < node.particleCount; ++i)
            benchmark::DoNotOptimize(node.advanceParticle(node.particles[i], t, true));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParticleFrame)->Arg(1000)->Arg(5000);

// Laying out a tiled sprite whose size changes every frame (the worst case: no reuse).
void BM_SpriteTileLayout(benchmark::State& state) {
    SGSpriteNode sprite;
    sprite.image.value = {0, 0, 1, 64, 64, {0, 0, 1, 1}, 0};
    sprite.tileWidth.setValue(16);
    sprite.tileHeight.setValue(16);
    sprite.horizontalWrapping.setValue(2);
    sprite.verticalWrapping.setValue(2);
    sprite.height.setValue(static_cast<float>(state.range(0)));
    float width = static_cast<float>(state.range(0));
    for (auto _ : state) {
        sprite.width.setValue(width += 0.25f);
        sprite.compute();
        benchmark::DoNotOptimize(sprite.layoutTiles());
        if (width > 2.0f * static_cast<float>(state.range(0))) width = static_cast<float>(state.range(0));
    }
}
BENCHMARK(BM_SpriteTileLayout)->Arg(320)->Arg(1024);

// The moving scene's graph work: x and y set on every one of N sprites (each a fresh node, as the
// nodes of a real scene are), then every sprite computed. Per item: two writes and one compute.
// With a second argument of 1 the caches are flooded between frames, untimed, as drawing does.
void BM_SpriteMoveFrame(benchmark::State& state) {
    std::vector<char> flood(state.range(1) ? 64u << 20 : 0);
    SGSpace space(nullptr, nullptr, std::make_unique<NoDrawing>());
    std::vector<SGSpriteNode*> sprites;
    for (int i = 0; i < state.range(0); ++i) {
        sprites.push_back(new SGSpriteNode);
        sprites.back()->width.setValue(16.0f);
        sprites.back()->height.setValue(16.0f);
        space.addNode(sprites.back());
    }
    space.compute();
    float t = 0.0f;
    for (auto _ : state) {
        t += 1.0f;
        for (size_t i = 0; i < sprites.size(); ++i) {
            sprites[i]->x.setValue(t + static_cast<float>(i));
            sprites[i]->y.setValue(t - static_cast<float>(i));
        }
        space.compute();
        benchmark::DoNotOptimize(sprites.back()->record.centerX);
        if (!flood.empty()) {
            state.PauseTiming();
            for (size_t i = 0; i < flood.size(); i += 64) flood[i]++;
            benchmark::ClobberMemory();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SpriteMoveFrame)->Args({1000, 0})->Args({20000, 0})->Args({1000, 1})->Args({20000, 1});

// The same sprites with only the writes, to split the frame's cost between writes and compute.
void BM_SpriteWriteXY(benchmark::State& state) {
    std::vector<SGSpriteNode*> sprites;
    for (int i = 0; i < state.range(0); ++i) sprites.push_back(new SGSpriteNode);
    float t = 0.0f;
    for (auto _ : state) {
        t += 1.0f;
        for (SGSpriteNode* s : sprites) s->dirty = false;
        for (size_t i = 0; i < sprites.size(); ++i) {
            sprites[i]->x.setValue(t + static_cast<float>(i));
            sprites[i]->y.setValue(t - static_cast<float>(i));
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    for (SGSpriteNode* s : sprites) s->release();
}
BENCHMARK(BM_SpriteWriteXY)->Arg(1000)->Arg(20000);

// Destroying a space of N sprites that all read one image (as a scene's sprites read one loader):
// each sprite's image port leaves the shared reader list. Per item, so linear growth stays flat.
void BM_SpaceTeardown(benchmark::State& state) {
    SGImagePort shared;
    for (auto _ : state) {
        state.PauseTiming();
        auto* space = new SGSpace(nullptr, nullptr, std::make_unique<NoDrawing>());
        for (int i = 0; i < state.range(0); ++i) {
            auto* sprite = new SGSpriteNode;
            sprite->image.setValue(&shared);
            space->addNode(sprite);
        }
        state.ResumeTiming();
        space->release();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SpaceTeardown)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
