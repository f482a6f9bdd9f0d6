// One scene description for every renderer: a headless context set up for the ES2 renderer
// (batched or one call per sprite) or the ES1 one, a scene whose ortho space covers the surface
// pixel for pixel (y up), makers of its nodes and textures, and the scene of every node path the
// renderers are compared on. The cross-renderer tests, the renderers' own tests and the frame
// benchmarks all build their scenes here.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gl/HeadlessGL.h"
#include "scenegraph/SGRenderMath.h"
#include "scenegraph/SGScene.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGReplicatorNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

namespace dktest {

enum class Renderer { ES2Batched, ES2OneCallPerSprite, ES1 };

const char* rendererName(Renderer renderer);

// Sets the current context up as a host sets up its renderer (blending source alpha over, the
// viewport), installs the renderer and selects it for scenes made from now on.
void setUpRenderer(Renderer renderer, int width, int height);

struct TextureOptions {
    bool premultiplied = false;
    bool linear = false;  // else nearest, so probes see exact texels
    unsigned name = 0;    // make the texture under this name (GL ES lets any unused name be bound)
};

// A texture from RGBA bytes, bottom row first as GL stores them. The GL_TEXTURE_2D binding is put
// back afterwards, as any upload must: the ES2 renderer caches it.
SGImage makeTexture(int width, int height, const uint8_t* rgba, TextureOptions options = {});
// The same from texels 0xRRGGBBAA listed top row first, as a picture is read.
SGImage makeTexture(int width, int height, const std::vector<uint32_t>& topFirst,
                    TextureOptions options = {});

// A sprite's ports besides its place, size and colour.
struct Look {
    SGImage image = SGImageNull;
    float angle = 0;
    int32_t layer = 0, blend = 0, hWrap = 0, vWrap = 0, tileW = 0, tileH = 0, hAnchor = 0, vAnchor = 0;
};

// A scene with a clear node and an ortho space of width × height in the current context.
class OrthoScene {
public:
    OrthoScene(int width, int height);

    SGOrtho2DSpace* space(float x, float y, float width, float height);
    SGSpriteNode* sprite(float x, float y, float w, float h, SGColor color = SGWhiteColor,
                         const Look& look = {}, SGSpace* in = nullptr);
    template <class Node>
    Node* make(SGNodeClass nodeClass, SGSpace* in = nullptr) {
        return static_cast<Node*>((in ? in : ortho)->createNode(nodeClass));
    }

    SGScene scene{nullptr, nullptr};
    SGClearNode* clear;
    SGOrtho2DSpace* ortho;
};

using RGBA = std::array<int, 4>;

// A headless context of one renderer holding an OrthoScene of its size.
class RenderTarget {
public:
    RenderTarget(Renderer renderer, int width, int height);
    ~RenderTarget();

    // Textures made here are deleted with the target.
    SGImage texture(int width, int height, const std::vector<uint32_t>& topFirst,
                    TextureOptions options = {});
    // Draws a frame (particle lives come from their own random sequence, seeded alike every frame)
    // and reads it back.
    void frame();
    // The pixel at (x, y) counted from the bottom-left corner, as the scene's coordinates run.
    RGBA at(int x, int y) const;

    Renderer renderer;
    std::string failure;  // why there is no context
    std::unique_ptr<plat::gl::HeadlessContext> context;
    std::unique_ptr<OrthoScene> s;
    std::vector<uint8_t> pixels;

private:
    std::vector<unsigned> m_textures;
};

// Every node path in 128 × 128: plain, rotated, layered, textured, mirrored, fixed-size and tiled
// sprites, each blend mode, premultiplied images, replicators, wrap spaces (one exactly half way),
// a turned camera over a nested replicator, particles plain and textured, and cameras with no
// view volume.
void everyPath(RenderTarget& t);

}  // namespace dktest
