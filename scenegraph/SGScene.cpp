#include "scenegraph/SGScene.h"

#include <algorithm>

using dk::sound::SoundManager;

SGScene::SGScene(SoundManager* soundManager, DKEngineAssetManager* assetManager)
    : SGScene(soundManager, assetManager, nullptr) {}

SGScene::SGScene(SoundManager* soundManager, DKEngineAssetManager* assetManager,
                 std::unique_ptr<IRenderManager> renderManager)
    : m_defaultSpace(soundManager, assetManager),
      m_renderManager(renderManager ? std::move(renderManager) : SGMakeRenderManager()),
      m_assetManager(assetManager),
      m_soundManager(soundManager) {
    m_renderManager->registerNode(&m_defaultSpace);
}

SGScene::~SGScene() {
    std::vector<SGSpace*> owned;
    owned.swap(m_spaces);
    for (SGSpace* space : owned) space->release();
    m_renderManager->unregisterAllNodes();
    m_renderManager.reset();
}

SGSpace* SGScene::createSpace(uint32_t nodeClass) {
    SGSpace* space = nodeClass == SGNodeClassOrtho2DSpace ? new SGOrtho2DSpace(m_soundManager, m_assetManager)
                                                          : new SGSpace(m_soundManager, m_assetManager);
    m_spaces.push_back(space);
    m_renderManager->registerNode(space);
    return space;
}

void SGScene::removeSpace(SGSpace* space) {
    auto it = std::find(m_spaces.begin(), m_spaces.end(), space);
    if (it == m_spaces.end()) return;
    m_renderManager->unregisterNode(space);
    m_spaces.erase(it);
    space->release();
}

void SGScene::render() {
    m_defaultSpace.compute();
    for (size_t i = 0; i < m_spaces.size(); ++i) m_spaces[i]->compute();
    m_renderManager->render();
}

void SGScene::renderWithInitialState(SGScene& initialScene) {
    m_defaultSpace.compute();
    // Callers pass an initial scene with as many spaces; one with fewer is never read past its end.
    const std::vector<SGSpace*>& initial = initialScene.m_spaces;
    for (size_t i = 0; i < m_spaces.size(); ++i) {
        if (i < initial.size()) initial[i]->compute();
        m_spaces[i]->compute();
    }
}
