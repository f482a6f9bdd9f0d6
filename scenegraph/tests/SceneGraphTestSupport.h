// What the scene-graph tests share: small nodes for ports, spaces and scenes, and render managers
// that log what they would draw (RecordingRenderers installs them for both renderers).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scenegraph/SGNode.h"
#include "scenegraph/SGRenderManagerBase.h"
#include "scenegraph/SGSpace.h"

namespace dktest {

// Sets number, integer and boolean ports by identifier, in order.
inline void setPorts(SGNode* node, std::initializer_list<std::pair<SGPortID, float>> values) {
    for (auto [id, v] : values) {
        SGPort* port = node->portForID(id);
        if (port->type() == SGPortValueType::INTEGER)
            static_cast<SGIntegerPort*>(port)->setValue(static_cast<int>(v));
        else if (port->type() == SGPortValueType::BOOLEAN)
            static_cast<SGBooleanPort*>(port)->setValue(v != 0);
        else
            static_cast<SGNumberPort*>(port)->setValue(v);
    }
}

}  // namespace dktest

// output = input1 + input2; counts its computations and can report its destruction.
class SumNode : public SGNode {
public:
    explicit SumNode(bool* destroyed = nullptr) : m_destroyed(destroyed) {
        addNodeClass(SGNodeClassArithmeticNode);
        addOutputPort(&output, SGPortValueType::NUMBER);
        addInputPort(&input1, SGPortValueType::NUMBER);
        addInputPort(&input2, SGPortValueType::NUMBER);
    }
    ~SumNode() override {
        if (m_destroyed) *m_destroyed = true;
    }
    void compute() override {
        ++computes;
        output.value = input1.numberValue() + input2.numberValue();
    }
    SGNumberPort output, input1, input2;
    int computes = 0;

private:
    bool* m_destroyed;
};

// A drawable render node (it carries the sprite bit); logs its computations by name.
class TestSprite : public SGRenderNode {
public:
    TestSprite(std::string name, std::vector<std::string>* log, int32_t layer = 0)
        : name(std::move(name)), m_log(log) {
        addNodeClass(SGNodeClassSpriteNode);
        addInputPort(&x, SGPortValueType::NUMBER);
        this->layer = layer;
    }
    // Called every frame whatever the flag; clearing it first keeps the read of its own input
    // from computing a second time.
    void compute() override {
        dirty = false;
        m_log->push_back(name);
        x.numberValue();
    }

    SGNumberPort x;
    std::string name;

private:
    std::vector<std::string>* m_log;
};

// The shared draw-list behaviour of the real renderers, with drawing replaced by a log.
class RecordingRenderManager : public SGRenderManagerBase {
public:
    explicit RecordingRenderManager(std::vector<const SGRenderNode*>* drawn) : m_drawn(drawn) {}

protected:
    void drawClear(SGRenderNode* node) override { m_drawn->push_back(node); }
    void drawOrtho2DSpace(SGSpace* space) override {
        m_drawn->push_back(space);
        space->render();
    }
    void drawParticleSystem(SGRenderNode* node) override { m_drawn->push_back(node); }
    void drawReplicator(SGSpace* space) override { m_drawn->push_back(space); }
    void drawSprite(SGRenderNode* node) override { m_drawn->push_back(node); }
    void drawWrapSpace(SGSpace* space) override { m_drawn->push_back(space); }
    void drawSpace(SGSpace* space) override {
        m_drawn->push_back(space);
        SGRenderManagerBase::drawSpace(space);
    }

private:
    std::vector<const SGRenderNode*>* m_drawn;
};

// Installs recording managers for both renderers while in scope; `drawn` collects the draw order
// of every manager made meanwhile.
class RecordingRenderers {
public:
    RecordingRenderers() {
        auto maker = [this] { return std::unique_ptr<IRenderManager>(new RecordingRenderManager(&drawn)); };
        m_previousES1 = SGSetRenderManagerMaker(SGRenderAPI::ES1, maker);
        m_previousES2 = SGSetRenderManagerMaker(SGRenderAPI::ES2, maker);
    }
    ~RecordingRenderers() {
        SGSetRenderManagerMaker(SGRenderAPI::ES1, m_previousES1);
        SGSetRenderManagerMaker(SGRenderAPI::ES2, m_previousES2);
    }

    std::vector<const SGRenderNode*> drawn;

private:
    SGRenderManagerMaker m_previousES1;
    SGRenderManagerMaker m_previousES2;
};
