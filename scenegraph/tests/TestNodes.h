// Small nodes for exercising ports, spaces and scenes.
#pragma once

#include <string>
#include <vector>

#include "scenegraph/SGNode.h"

// output = input1 + input2; counts its computations and can report its destruction.
class SumNode : public SGNode {
public:
    explicit SumNode(bool* destroyed = nullptr) : destroyed_(destroyed) {
        addNodeClass(SGNodeClassArithmeticNode);
        addOutputPort(&output, SGPortValueType::NUMBER);
        addInputPort(&input1, SGPortValueType::NUMBER);
        addInputPort(&input2, SGPortValueType::NUMBER);
    }
    ~SumNode() override {
        if (destroyed_) *destroyed_ = true;
    }

    void compute() override {
        ++computes;
        output.value = input1.numberValue() + input2.numberValue();
    }

    SGPort* portForID(SGPortID id) override {
        switch (id) {
            case SGPortID::output:
                return &output;
            case SGPortID::input1:
                return &input1;
            case SGPortID::input2:
                return &input2;
            default:
                return nullptr;
        }
    }

    SGNumberPort output;
    SGNumberPort input1;
    SGNumberPort input2;
    int computes = 0;

private:
    bool* destroyed_;
};

// A drawable render node (it carries the sprite bit); logs its computations by name.
class TestSprite : public SGRenderNode {
public:
    TestSprite(std::string name, std::vector<std::string>* log, int32_t layer = 0)
        : name(std::move(name)), log_(log) {
        addNodeClass(SGNodeClassSpriteNode);
        addInputPort(&x, SGPortValueType::NUMBER);
        this->layer = layer;
    }

    // Called every frame whatever the flag; clearing it first keeps the read of its own input
    // from computing a second time.
    void compute() override {
        dirty = false;
        ++computes;
        if (log_) log_->push_back(name);
        x.numberValue();
    }

    SGNumberPort x;
    std::string name;
    int computes = 0;

private:
    std::vector<std::string>* log_;
};
