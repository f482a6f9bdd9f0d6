// A render manager for tests: the shared draw-list behaviour of the real renderers, with drawing
// replaced by a log of what would be drawn. Install it with RecordingRenderers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scenegraph/SGRenderManagerBase.h"
#include "scenegraph/SGSpace.h"

class RecordingRenderManager : public SGRenderManagerBase {
public:
    explicit RecordingRenderManager(std::vector<const SGRenderNode*>* drawn) : drawn_(drawn) {}
    ~RecordingRenderManager() override { ++destroyed; }

    void render() override {
        ++renders;
        SGRenderManagerBase::render();
    }

    int renders = 0;
    static inline int made = 0;
    static inline int destroyed = 0;

protected:
    void drawClear(SGRenderNode* node) override { drawn_->push_back(node); }
    void drawOrtho2DSpace(SGSpace* space) override {
        drawn_->push_back(space);
        space->render();
    }
    void drawParticleSystem(SGRenderNode* node) override { drawn_->push_back(node); }
    void drawReplicator(SGSpace* space) override { drawn_->push_back(space); }
    void drawSprite(SGRenderNode* node) override { drawn_->push_back(node); }
    void drawWrapSpace(SGSpace* space) override { drawn_->push_back(space); }
    void drawSpace(SGSpace* space) override {
        drawn_->push_back(space);
        SGRenderManagerBase::drawSpace(space);
    }

private:
    std::vector<const SGRenderNode*>* drawn_;
};

// Installs recording managers for both renderers while in scope; `drawn` collects the draw order
// of every manager made meanwhile.
class RecordingRenderers {
public:
    RecordingRenderers() {
        auto maker = [this]() -> std::unique_ptr<IRenderManager> {
            ++RecordingRenderManager::made;
            return std::make_unique<RecordingRenderManager>(&drawn);
        };
        previousES1_ = SGSetRenderManagerMaker(SGRenderAPI::ES1, maker);
        previousES2_ = SGSetRenderManagerMaker(SGRenderAPI::ES2, maker);
        RecordingRenderManager::made = 0;
        RecordingRenderManager::destroyed = 0;
    }
    ~RecordingRenderers() {
        SGSetRenderManagerMaker(SGRenderAPI::ES1, previousES1_);
        SGSetRenderManagerMaker(SGRenderAPI::ES2, previousES2_);
    }

    std::vector<const SGRenderNode*> drawn;

private:
    SGRenderManagerMaker previousES1_;
    SGRenderManagerMaker previousES2_;
};
