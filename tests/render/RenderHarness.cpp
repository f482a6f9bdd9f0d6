#include "tests/render/RenderHarness.h"

#include <GLES2/gl2.h>

#include <cstdlib>

#include "scenegraph/es1/SGRenderManagerES1.h"
#include "scenegraph/es2/SGRenderManagerES2.h"

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
    o->x.setValue(x);
    o->y.setValue(y);
    o->width.setValue(width);
    o->height.setValue(height);
    o->near.setValue(-1.0f);
    o->far.setValue(1.0f);
    return o;
}

SGSpriteNode* OrthoScene::sprite(float x, float y, float w, float h, SGColor color, const Look& look,
                                 SGSpace* in) {
    auto* s = make<SGSpriteNode>(SGNodeClassSpriteNode, in);
    s->x.setValue(x);
    s->y.setValue(y);
    s->width.setValue(w);
    s->height.setValue(h);
    s->color.value = color;
    s->image.value = look.image;
    s->angle.setValue(look.angle);
    s->layer = look.layer;
    s->blendingMode.setValue(look.blend);
    s->horizontalWrapping.setValue(look.hWrap);
    s->verticalWrapping.setValue(look.vWrap);
    s->tileWidth.setValue(look.tileW);
    s->tileHeight.setValue(look.tileH);
    s->horizontalAnchor.setValue(look.hAnchor);
    s->verticalAnchor.setValue(look.vAnchor);
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
    std::srand(1);
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
    auto* replicator = s.make<SGReplicatorNode>(SGNodeClassReplicatorNode);
    replicator->copies.setValue(3);
    replicator->spacing.setValue(10);
    replicator->angle.setValue(90);
    s.sprite(8, 60, 6, 6, {1, 0, 0, 1}, {}, replicator);
    for (auto [xy, size, wrapX] : {std::tuple{124.0f, 128.0f, true}, {20.0f, 40.0f, false}}) {
        auto* wrap = s.make<SGWrapNode>(SGNodeClassWrapNode);
        wrap->wrapX.setValue(wrapX);
        wrap->wrapY.setValue(true);
        wrap->wrapWidth.setValue(size);
        wrap->wrapHeight.setValue(size);
        wrap->x.setValue(wrapX ? xy : 0);
        wrap->y.setValue(xy);  // the second exactly half way: its copy goes down, out of sight
        s.sprite(wrapX ? 124 : 30, xy, wrapX ? 10 : 4, wrapX ? 10 : 4, {0, 1, 0, 1}, {}, wrap);
    }
    SGOrtho2DSpace* turned = s.space(-64, -64, 128, 128);
    turned->modelRotation.setValue(90);
    auto* inner = s.make<SGReplicatorNode>(SGNodeClassReplicatorNode, turned);
    inner->copies.setValue(2);
    inner->spacing.setValue(12);
    s.sprite(4, -20, 6, 4, SGWhiteColor, {}, inner);
    s.space(0, 0, 0, 0);  // no view volume: draws nothing
    s.sprite(64, 64, 128, 128, {0, 0, 1, 1}, {}, s.space(0, 0, 0, 0));
}

void particles(RenderTarget& t) {
    OrthoScene& s = *t.s;
    auto* plain = s.make<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
    plain->numParticles.setValue(40);
    plain->lifetime.setValue(4);
    plain->lifestart.setValue(2);
    plain->speed.setValue(10);
    plain->direction.setValue(60);
    plain->gravityY.setValue(-4);
    plain->size.setValue(3);
    plain->sizeTarget.setValue(8);
    plain->sizeTransitionTime.setValue(3);
    plain->color.value = {1, 0, 0, 1};
    plain->colorTarget.value = {0, 0, 1, 0.5f};
    plain->colorTransitionTime.setValue(3);
    plain->spawnParticles.setValue(true);
    plain->x.setValue(10);
    plain->y.setValue(90);
    plain->time.setValue(2.5f);
    auto* textured = s.make<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
    textured->numParticles.setValue(3);
    textured->lifetime.setValue(10);
    textured->size.setValue(16);
    textured->sizeTarget.setValue(16);
    textured->rotation.setValue(30);
    textured->image.value = t.texture(2, 2, {kRed, kGreen, kBlue, kWhite}, {.premultiplied = true});
    textured->blendingMode.setValue(SGBlendModeScreen);
    textured->spawnParticles.setValue(true);
    textured->x.setValue(40);
    textured->y.setValue(110);
    textured->time.setValue(1);
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
