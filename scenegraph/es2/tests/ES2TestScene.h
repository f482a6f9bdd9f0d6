// A headless GL context on Mesa with the ES2 renderer set up as the player's view sets it up, and
// a scene with one ortho space covering the surface pixel for pixel (y up).
#pragma once

#include <GLES2/gl2.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gl/HeadlessGL.h"
#include "scenegraph/SGScene.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGReplicatorNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

using RGB = std::array<int, 3>;

class ES2Scene {
public:
    ES2Scene(int width, int height) {
        std::string error;
        context = plat::gl::HeadlessContext::create(width, height, plat::gl::Api::ES2, &error);
        if (!context) {
            failure = error;
            return;
        }
        context->makeCurrent();
        DKShouldUseGLES2 = true;
        SGRenderManagerES2_setUpGL();
        glDisable(GL_CULL_FACE);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glViewport(0, 0, width, height);
        scene = std::make_unique<SGScene>(nullptr, nullptr);
        clear = static_cast<SGClearNode*>(scene->defaultSpace().createNode(SGNodeClassClearNode));
        ortho = static_cast<SGOrtho2DSpace*>(scene->createSpace(SGNodeClassOrtho2DSpace));
        ortho->width.setValue(static_cast<float>(width));
        ortho->height.setValue(static_cast<float>(height));
        ortho->near.setValue(-1.0f);
        ortho->far.setValue(1.0f);
    }
    ~ES2Scene() {
        scene.reset();
        for (GLuint t : textures) glDeleteTextures(1, &t);
    }

    SGSpriteNode* sprite(float x, float y, float w, float h, SGColor color = SGWhiteColor,
                         SGSpace* space = nullptr) {
        auto* s = static_cast<SGSpriteNode*>((space ? space : ortho)->createNode(SGNodeClassSpriteNode));
        s->x.setValue(x);
        s->y.setValue(y);
        s->width.setValue(w);
        s->height.setValue(h);
        s->color.value = color;
        return s;
    }

    template <class Node>
    Node* make(SGNodeClass nodeClass, SGSpace* space = nullptr) {
        return static_cast<Node*>((space ? space : ortho)->createNode(nodeClass));
    }

    // A spawning particle system of constant size and colour, at time 1.
    SGParticleSystemNode* particles(int count, float x, float y, float size, SGColor color = SGWhiteColor) {
        auto* p = make<SGParticleSystemNode>(SGNodeClassParticleSystemNode);
        p->numParticles.setValue(count);
        p->lifetime.setValue(10);
        p->size.setValue(size);
        p->sizeTarget.setValue(size);
        p->color.value = p->colorTarget.value = color;
        p->spawnParticles.setValue(true);
        p->x.setValue(x);
        p->y.setValue(y);
        p->time.setValue(1);
        return p;
    }

    // A texture from RGBA rows listed top row first (stored bottom row first, as images are),
    // sampled nearest so probes see exact texels.
    // A non-zero `name` makes the texture under that name (GL ES lets any unused name be bound).
    SGImage texture(int w, int h, const std::vector<uint32_t>& topFirst, bool premultiplied = false,
                    GLuint name = 0) {
        std::vector<uint8_t> bytes;
        for (int row = h - 1; row >= 0; --row)
            for (int col = 0; col < w; ++col) {
                uint32_t p = topFirst[static_cast<size_t>(row * w + col)];
                bytes.insert(bytes.end(), {uint8_t(p >> 24), uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
            }
        // Put the binding back afterwards, as any texture upload must: the renderer caches it.
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        if (!name) glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
        textures.push_back(name);
        return {w, h, name, w, h, {0, 0, 1, 1}, premultiplied ? 1 : 0};
    }

    void frame() {
        scene->render();
        pixels = context->readPixels();
    }

    // The pixel at (x, y) counted from the bottom-left corner, as the scene's coordinates run.
    RGB at(int x, int y) const {
        size_t i = (static_cast<size_t>(context->height() - 1 - y) * context->width() + x) * 4;
        return {pixels[i], pixels[i + 1], pixels[i + 2]};
    }

    std::unique_ptr<plat::gl::HeadlessContext> context;
    std::string failure;
    std::unique_ptr<SGScene> scene;
    SGClearNode* clear = nullptr;
    SGOrtho2DSpace* ortho = nullptr;
    std::vector<uint8_t> pixels;
    std::vector<GLuint> textures;
};

// Each colour channel within `tolerance` of the expected 0-255 value.
inline ::testing::AssertionResult near(const RGB& actual, const RGB& expected, int tolerance = 2) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(actual[i] - expected[i]) > tolerance)
            return ::testing::AssertionFailure()
                   << "got (" << actual[0] << ", " << actual[1] << ", " << actual[2] << "), expected ("
                   << expected[0] << ", " << expected[1] << ", " << expected[2] << ")";
    return ::testing::AssertionSuccess();
}
