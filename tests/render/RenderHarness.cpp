#include "tests/render/RenderHarness.h"

#include <GLES2/gl2.h>

#include "scenegraph/es1/SGRenderManagerES1.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"

namespace dktest {

const char* rendererName(Renderer renderer) {
    static const char* const names[] = {"ES2Batched", "ES2OneCallPerSprite", "ES1"};
    return names[static_cast<int>(renderer)];
}

void setUpRenderer(Renderer renderer, int width, int height) {
    DKShouldUseGLES2 = renderer != Renderer::ES1;
    if (DKShouldUseGLES2) {
        SGRenderManagerES2_setUpGL();
        SGRenderManagerES2::setBatching(renderer == Renderer::ES2Batched);
    } else {
        SGRenderManagerES1_setUpGL();
    }
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glViewport(0, 0, width, height);
}

SGImage makeTexture(int width, int height, const uint8_t* rgba, TextureOptions options) {
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    GLuint name = options.name;
    if (!name) glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    GLint filter = options.linear ? GL_LINEAR : GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    return {width, height, name, width, height, {0, 0, 1, 1}, options.premultiplied ? 1 : 0};
}

SGImage makeTexture(int width, int height, const std::vector<uint32_t>& topFirst, TextureOptions options) {
    std::vector<uint8_t> bytes;
    for (int row = height - 1; row >= 0; --row)
        for (int col = 0; col < width; ++col) {
            uint32_t p = topFirst[static_cast<size_t>(row * width + col)];
            bytes.insert(bytes.end(), {uint8_t(p >> 24), uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
    return makeTexture(width, height, bytes.data(), options);
}

OrthoScene::OrthoScene(int width, int height)
    : clear(static_cast<SGClearNode*>(scene.defaultSpace().createNode(SGNodeClassClearNode))),
      ortho(space(0, 0, static_cast<float>(width), static_cast<float>(height))) {}

SGOrtho2DSpace* OrthoScene::space(float x, float y, float width, float height) {
    auto* o = static_cast<SGOrtho2DSpace*>(scene.createSpace(SGNodeClassOrtho2DSpace));
    using ID = SGPortID;
    setPorts(
        o, {{ID::x, x}, {ID::y, y}, {ID::width, width}, {ID::height, height}, {ID::near, -1}, {ID::far, 1}});
    return o;
}

SGSpriteNode* OrthoScene::sprite(float x, float y, float w, float h, SGColor color, const Look& look,
                                 SGSpace* in) {
    auto* s = make<SGSpriteNode>(SGNodeClassSpriteNode, in);
    using ID = SGPortID;
    setPorts(s, {{ID::x, x}, {ID::y, y}, {ID::width, w}, {ID::height, h}, {ID::angle, look.angle}});
    setPorts(s, {{ID::blendingMode, look.blend}, {ID::horizontalWrapping, look.hWrap}});
    setPorts(s,
             {{ID::verticalWrapping, look.vWrap}, {ID::tileWidth, look.tileW}, {ID::tileHeight, look.tileH}});
    setPorts(s, {{ID::horizontalAnchor, look.hAnchor}, {ID::verticalAnchor, look.vAnchor}});
    s->color.value = color;
    s->image.value = look.image;
    s->layer = look.layer;
    return s;
}

RenderTarget::RenderTarget(Renderer renderer, int width, int height) : renderer(renderer) {
    auto api = renderer == Renderer::ES1 ? plat::gl::Api::ES1 : plat::gl::Api::ES2;
    context = plat::gl::HeadlessContext::create(width, height, api, &failure);
    if (!context) return;
    context->makeCurrent();
    setUpRenderer(renderer, width, height);
    s = std::make_unique<OrthoScene>(width, height);
}

RenderTarget::~RenderTarget() {
    if (!context) return;
    context->makeCurrent();
    s.reset();
    for (GLuint name : m_textures) glDeleteTextures(1, &name);
    if (renderer != Renderer::ES1) SGRenderManagerES2::setBatching(true);
}

SGImage RenderTarget::texture(int width, int height, const std::vector<uint32_t>& topFirst,
                              TextureOptions options) {
    SGImage image = makeTexture(width, height, topFirst, options);
    m_textures.push_back(image.texture);
    return image;
}

void RenderTarget::frame() {
    dk::scenegraph::seedParticleRandom(1);
    s->scene.render();
    pixels = context->readPixels();
}

RGBA RenderTarget::at(int x, int y) const {
    size_t i = (static_cast<size_t>(context->height() - 1 - y) * context->width() + x) * 4;
    return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
}

namespace {

constexpr uint32_t kRed = 0xff0000ff, kGreen = 0x00ff00ff, kBlue = 0x0000ffff, kWhite = 0xffffffff;

void sprites(RenderTarget& t) {
    OrthoScene& s = *t.s;
    SGImage quad = t.texture(2, 2, {kRed, kGreen, kBlue, kWhite});
    SGImage big = quad, mirrored = quad;
    big.textureWidth = big.textureHeight = 8;
    mirrored.textureRect = {1, 1, 0, 0};
    s.sprite(20, 12, 16, 8, {1, 0, 0, 1});
    s.sprite(20, 40, 20, 4, {0, 1, 0, 1}, {.angle = 90});
    s.sprite(46, 32, 24, 2, {1, 1, 0, 1}, {.angle = 45});
    s.sprite(48, 10, 12, 12, {0, 0, 1, 1}, {.layer = 2});
    s.sprite(52, 14, 12, 12, {1, 0, 1, 1}, {.layer = 1});
    s.sprite(80, 52, 16, 16, SGWhiteColor, {.image = quad});
    s.sprite(100, 52, 16, 16, SGWhiteColor, {.image = mirrored});
    s.sprite(116, 40, 20, 6, SGWhiteColor, {.image = big, .hWrap = 1, .vWrap = 1, .vAnchor = SGAnchorEnd});
    s.sprite(84, 84, 26, 22, SGWhiteColor,
             {.image = quad, .hWrap = 2, .vWrap = 2, .tileW = 8, .tileH = 8, .hAnchor = 1});
    s.sprite(111, 84, 12, 30, SGWhiteColor, {.image = big, .angle = 90, .hWrap = 1, .vWrap = 2, .tileH = 7});
    for (int mode = 0; mode < 6; ++mode)
        s.sprite(70.0f + 10.0f * mode, 120, 8, 8, {1, 0.5f, 0, 0.5f}, {.blend = mode == 5 ? 9 : mode});
    SGImage premultiplied = t.texture(1, 1, {0x80000080}, {.premultiplied = true});
    s.sprite(72, 104, 8, 8, {1, 1, 1, 0.5f}, {.image = t.texture(1, 1, {0xff000080})});
    s.sprite(82, 104, 8, 8, {1, 1, 1, 0.5f}, {.image = premultiplied});
    s.sprite(92, 104, 8, 8, SGWhiteColor, {.image = premultiplied, .blend = SGBlendModeAdd});
}

void copies(OrthoScene& s) {
    using enum SGPortID;
    auto* replicator = s.make<SGReplicatorNode>(SGNodeClassReplicatorNode);
    setPorts(replicator, {{copies, 3}, {spacing, 10}, {angle, 90}});
    s.sprite(8, 60, 6, 6, {1, 0, 0, 1}, {}, replicator);
    auto* wrapping = s.make<SGWrapNode>(SGNodeClassWrapNode);
    setPorts(wrapping, {{wrapX, 1}, {wrapY, 1}, {wrapWidth, 128}, {wrapHeight, 128}, {x, 124}, {y, 124}});
    s.sprite(124, 124, 10, 10, {0, 1, 0, 1}, {}, wrapping);
    auto* half = s.make<SGWrapNode>(SGNodeClassWrapNode);
    setPorts(half, {{wrapY, 1}, {wrapHeight, 40}, {y, 20}});  // half way: the copy goes down, out of sight
    s.sprite(30, 20, 4, 4, {0, 1, 0, 1}, {}, half);
    SGOrtho2DSpace* turned = s.space(-64, -64, 128, 128);
    turned->modelRotation.setValue(90);
    auto* inner = s.make<SGReplicatorNode>(SGNodeClassReplicatorNode, turned);
    setPorts(inner, {{copies, 2}, {spacing, 12}});
    s.sprite(4, -20, 6, 4, SGWhiteColor, {}, inner);
    s.space(0, 0, 0, 0);  // no view volume: draws nothing
    s.sprite(64, 64, 128, 128, {0, 0, 1, 1}, {}, s.space(0, 0, 0, 0));
}

void particles(RenderTarget& t) {
    using enum SGPortID;
    auto* plain = t.s->make<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
    setPorts(plain, {{numParticles, 40}, {lifetime, 4}, {lifestart, 2}, {speed, 10}, {direction, 60}});
    setPorts(plain, {{gravityY, -4}, {size, 3}, {sizeTarget, 8}, {sizeTransitionTime, 3}});
    setPorts(plain, {{colorTransitionTime, 3}, {spawnParticles, 1}, {x, 10}, {y, 90}, {time, 2.5f}});
    plain->color.value = {1, 0, 0, 1};
    plain->colorTarget.value = {0, 0, 1, 0.5f};
    auto* textured = t.s->make<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
    setPorts(textured, {{numParticles, 3}, {lifetime, 10}, {size, 16}, {sizeTarget, 16}, {rotation, 30}});
    setPorts(textured,
             {{blendingMode, SGBlendModeScreen}, {spawnParticles, 1}, {x, 40}, {y, 110}, {time, 1}});
    textured->image.value = t.texture(2, 2, {kRed, kGreen, kBlue, kWhite}, {.premultiplied = true});
}

}  // namespace

void everyPath(RenderTarget& t) {
    t.s->clear->color.value = {0.2f, 0.4f, 0.6f, 1.0f};
    sprites(t);
    copies(*t.s);
    particles(t);
    t.s->ortho->sortRenderNodes();
}

}  // namespace dktest
