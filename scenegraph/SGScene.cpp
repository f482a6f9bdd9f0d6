#include "scenegraph/SGScene.h"

#include <algorithm>

SGScene::SGScene(SoundManager* soundManager, DKEngineAssetManager* assetManager)
    : SGScene(soundManager, assetManager, nullptr) {}

SGScene::SGScene(SoundManager* soundManager, DKEngineAssetManager* assetManager,
                 std::unique_ptr<IRenderManager> renderManager)
    : defaultSpace_(soundManager, assetManager),
      renderManager_(renderManager ? std::move(renderManager) : SGMakeRenderManager()),
      assetManager_(assetManager),
      soundManager_(soundManager) {
    renderManager_->registerNode(&defaultSpace_);
}

SGScene::~SGScene() {
    std::vector<SGSpace*> owned;
    owned.swap(spaces_);
    for (SGSpace* space : owned) space->release();
    renderManager_->unregisterAllNodes();
    renderManager_.reset();
}

SGSpace* SGScene::createSpace(uint32_t nodeClass) {
    SGSpace* space = nodeClass == SGNodeClassOrtho2DSpace ? new SGOrtho2DSpace(soundManager_, assetManager_)
                                                          : new SGSpace(soundManager_, assetManager_);
    spaces_.push_back(space);
    renderManager_->registerNode(space);
    return space;
}

void SGScene::removeSpace(SGSpace* space) {
    auto it = std::find(spaces_.begin(), spaces_.end(), space);
    if (it == spaces_.end()) return;
    renderManager_->unregisterNode(space);
    spaces_.erase(it);
    space->release();
}

void SGScene::render() {
    defaultSpace_.compute();
    for (size_t i = 0; i < spaces_.size(); ++i) spaces_[i]->compute();
    renderManager_->render();
}

void SGScene::renderWithInitialState(SGScene& initialScene) {
    defaultSpace_.compute();
    // Callers pass an initial scene with as many spaces; one with fewer is never read past its end.
    const std::vector<SGSpace*>& initial = initialScene.spaces_;
    for (size_t i = 0; i < spaces_.size(); ++i) {
        if (i < initial.size()) initial[i]->compute();
        spaces_[i]->compute();
    }
}
