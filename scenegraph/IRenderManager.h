// The render manager interface: every scene and every space owns one, which draws its render
// nodes. The OpenGL ES 2.0 and 1.1 renderers implement it and install a maker here; which one a
// scene or space gets is fixed when it is constructed, by DKShouldUseGLES2, and the program stops
// if no maker is installed for that API (the "scenegraph" module checks first and raises a Lua
// error instead). The renderers never link each other: hosts that draw link and install them.
// SGImage::freeImage tells the ES2 renderer through SGSetTextureDeletedHandler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class SGRenderNode;

class IRenderManager {
public:
    virtual ~IRenderManager() = default;
    // Appends the node to the draw list.
    virtual void registerNode(SGRenderNode* node) = 0;
    // Removes the node's first entry; an absent node is ignored.
    virtual void unregisterNode(SGRenderNode* node) = 0;
    virtual void unregisterAllNodes() = 0;
    // Orders the draw list by layer and sorts the nested spaces in it.
    virtual void sortNodes() = 0;
    virtual void render() = 0;
};

// Set by the game's OpenGL view when it is created: scenes and spaces made afterwards use the
// OpenGL ES 2.0 renderer; otherwise the OpenGL ES 1.1 one.
extern bool DKShouldUseGLES2;

enum class SGRenderAPI { ES1, ES2 };

using SGRenderManagerMaker = std::function<std::unique_ptr<IRenderManager>()>;

// Installs the maker of one renderer (an empty function removes it); returns the previous one.
SGRenderManagerMaker SGSetRenderManagerMaker(SGRenderAPI api, SGRenderManagerMaker maker);

// What a renderer keeps between frames for the scenes of engine states (GL objects built in a
// context, caches of GL state, scratch buffers) is let go by its release function, installed
// beside its maker. SGReleaseRenderers calls every installed one; the engine does when its last
// state closes, so the next state's first renderer starts as in a new process.
using SGRendererRelease = void (*)();
void SGSetRendererRelease(SGRenderAPI api, SGRendererRelease release);
void SGReleaseRenderers();

// A new render manager of the renderer DKShouldUseGLES2 selects. Having none installed is a
// programming error: the program stops with a message naming the missing renderer.
std::unique_ptr<IRenderManager> SGMakeRenderManager();
// Whether SGMakeRenderManager has a maker to call, so callers that can refuse (the script
// binding) need not stop the program.
bool SGCanMakeRenderManager();

// Called by SGImage::freeImage with the deleted texture's name while DKShouldUseGLES2 is set, so
// the ES2 renderer can forget a cached binding. Returns the previous handler.
using SGTextureDeletedHandler = void (*)(uint32_t texture);
SGTextureDeletedHandler SGSetTextureDeletedHandler(SGTextureDeletedHandler handler);
