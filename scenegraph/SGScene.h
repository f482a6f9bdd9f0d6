// A scene: a default space plus further spaces, drawn by the scene's own render manager.
#pragma once

#include <memory>
#include <vector>

#include "scenegraph/IRenderManager.h"
#include "scenegraph/SGObject.h"
#include "scenegraph/SGSpace.h"

class SGScene : public SGObject {
public:
    // The scene's render manager comes from SGMakeRenderManager unless one is given; its spaces
    // (the default one included) always get theirs from SGMakeRenderManager.
    SGScene(dk::sound::SoundManager* soundManager, DKEngineAssetManager* assetManager);
    SGScene(dk::sound::SoundManager* soundManager, DKEngineAssetManager* assetManager,
            std::unique_ptr<IRenderManager> renderManager);
    // Releases the spaces, deletes the render manager, then destroys the default space.
    ~SGScene() override;

    // SGNodeClassOrtho2DSpace makes an ortho 2D space; any other value a plain space.
    SGSpace* createSpace(uint32_t nodeClass);
    // Releases a space made by this scene; any other is ignored.
    void removeSpace(SGSpace* space);

    // One frame: computes the default space, then the other spaces in order, then draws.
    void render();
    // Computes this scene's spaces interleaved with the initial scene's (its space i just before
    // this scene's space i, for as many as this scene has); draws nothing.
    void renderWithInitialState(SGScene& initialScene);

    SGSpace& defaultSpace() { return m_defaultSpace; }
    const std::vector<SGSpace*>& spaces() const { return m_spaces; }
    IRenderManager& renderManager() const { return *m_renderManager; }
    DKEngineAssetManager* assetManager() const { return m_assetManager; }
    dk::sound::SoundManager* soundManager() const { return m_soundManager; }

private:
    std::vector<SGSpace*> m_spaces;  // one owned reference each
    SGSpace m_defaultSpace;          // not counted separately: it dies with the scene
    std::unique_ptr<IRenderManager> m_renderManager;
    DKEngineAssetManager* m_assetManager;  // not owned
    dk::sound::SoundManager* m_soundManager;          // not owned
};
