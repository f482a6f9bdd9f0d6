// Spaces: render nodes that hold nodes, own them, and draw their render nodes through a render
// manager of their own. Spaces nest. The scene graph cannot see the asset and sound managers, so the
// nodes that need them (image and sound loaders, string to image, sound listener and player) live
// above, beside those managers, and register a maker with SGSetNodeMaker; createNode makes those
// classes through it (null until one is installed), handing the maker the space whose managers the
// node takes. Opening "assetManager" and "soundManager" installs the makers.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "scenegraph/IRenderManager.h"
#include "scenegraph/SGNode.h"

class DKEngineAssetManager;
// The sound effects manager (engine/sound), handed through to the sound player nodes.
namespace dk::sound {
class SoundManager;
}
class SGSpace;

// Makes a node of a class that lives above the scene graph (the loaders and the string-to-image
// node need the asset manager, the sound nodes the sound manager), for the given space, whose
// managers it may use. Returns null when it cannot make one.
using SGNodeMaker = std::function<SGNode*(SGSpace& space)>;

// Installs the maker of one of those classes (image loader, sound listener, sound loader, sound
// player, string to image); an empty function removes it. Returns the previous one. Until a
// maker is installed, createNode makes nothing for that class. Other classes are ignored.
SGNodeMaker SGSetNodeMaker(SGNodeClass nodeClass, SGNodeMaker maker);

class SGSpace : public SGRenderNode {
public:
    // The render manager comes from SGMakeRenderManager unless one is given.
    SGSpace(dk::sound::SoundManager* soundManager, DKEngineAssetManager* assetManager);
    SGSpace(dk::sound::SoundManager* soundManager, DKEngineAssetManager* assetManager,
            std::unique_ptr<IRenderManager> renderManager);
    // A nested space, with its parent's managers.
    explicit SGSpace(SGSpace* parent);
    // Releases every node, then deletes the render manager.
    ~SGSpace() override;

    // Makes, adds and returns a node of exactly that class, or returns null for a class a space
    // cannot make (attribute nodes belong to no space; ortho spaces are made by scenes).
    SGNode* createNode(uint32_t nodeClass);
    // Takes over the node's creation reference; render nodes are registered for drawing.
    void addNode(SGNode* node);
    // Releases a member node (it lives on while a connection retains it); others are ignored.
    void removeNode(SGNode* node);
    void removeAllNodes();

    // Runs every render node's compute, whatever its dirty flag; other nodes compute when read.
    void compute() override;
    virtual void render();

    // Orders the render nodes by layer (equal layers in no defined order) and sorts the draw list.
    void sortRenderNodes();
    int countRenderNodes() const { return static_cast<int>(m_renderNodes.size()); }

    const std::vector<SGNode*>& nodes() const { return m_nodes; }
    const std::vector<SGRenderNode*>& renderNodes() const { return m_renderNodes; }
    IRenderManager& renderManager() const { return *m_renderManager; }
    DKEngineAssetManager* assetManager() const { return m_assetManager; }
    dk::sound::SoundManager* soundManager() const { return m_soundManager; }

private:
    std::vector<SGNode*> m_nodes;              // one owned reference each
    std::vector<SGRenderNode*> m_renderNodes;  // the members with the render bit; not owning
    std::unique_ptr<IRenderManager> m_renderManager;
    DKEngineAssetManager* m_assetManager;     // not owned
    dk::sound::SoundManager* m_soundManager;  // not owned
};

// The 2D camera space. The renderers read its ports to set up the projection.
class SGOrtho2DSpace : public SGSpace {
public:
    SGOrtho2DSpace(dk::sound::SoundManager* soundManager, DKEngineAssetManager* assetManager);

    SGPort* portForID(SGPortID id) override;

    SGNumberPort x;
    SGNumberPort y;
    SGNumberPort width;
    SGNumberPort height;
    SGNumberPort near;
    SGNumberPort far;
    SGNumberPort viewRotation;
    SGNumberPort modelRotation;
};
