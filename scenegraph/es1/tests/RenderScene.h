// A headless GL context on Mesa of either OpenGL ES version, set up as a host sets up the
// renderer of that version, and a scene with one ortho space covering the surface pixel for pixel
// (y up). The same scene code runs under both renderers.
#pragma once

#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/gl/HeadlessGL.h"
#include "scenegraph/SGScene.h"
#include "scenegraph/es1/SGRenderManagerES1.h"
#include "scenegraph/es2/SGRenderManagerES2.h"
#include "scenegraph/nodes/SGClearNode.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/nodes/SGReplicatorNode.h"
#include "scenegraph/nodes/SGSpriteNode.h"

using RGBA = std::array<int, 4>;

class RenderScene {
public:
    RenderScene(plat::gl::Api api, int width, int height) {
        std::string error;
        context = plat::gl::HeadlessContext::create(width, height, api, &error);
        if (!context) {
            failure = error;
            return;
        }
        context->makeCurrent();
        DKShouldUseGLES2 = api == plat::gl::Api::ES2;
        if (DKShouldUseGLES2) {
            SGRenderManagerES2_setUpGL();
            glDisable(GL_CULL_FACE);
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        } else {
            SGRenderManagerES1_setUpGL();
        }
        glViewport(0, 0, width, height);
        scene = std::make_unique<SGScene>(nullptr, nullptr);
        clear = static_cast<SGClearNode*>(scene->defaultSpace().createNode(SGNodeClassClearNode));
        ortho = static_cast<SGOrtho2DSpace*>(scene->createSpace(SGNodeClassOrtho2DSpace));
        ortho->width.setValue(static_cast<float>(width));
        ortho->height.setValue(static_cast<float>(height));
        ortho->near.setValue(-1.0f);
        ortho->far.setValue(1.0f);
    }
    ~RenderScene() {
        if (!context) return;
        context->makeCurrent();
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
    Node* node(SGNodeClass nodeClass, SGSpace* space = nullptr) {
        return static_cast<Node*>((space ? space : ortho)->createNode(nodeClass));
    }

    // A texture from RGBA values listed top row first (stored bottom row first, as images are),
    // sampled nearest so probes see exact texels.
    SGImage texture(int w, int h, const std::vector<uint32_t>& topFirst, bool premultiplied = false) {
        std::vector<uint8_t> bytes;
        for (int row = h - 1; row >= 0; --row)
            for (int col = 0; col < w; ++col) {
                uint32_t p = topFirst[static_cast<size_t>(row * w + col)];
                bytes.insert(bytes.end(), {uint8_t(p >> 24), uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
            }
        GLint bound = 0;  // put the binding back: the ES2 renderer caches it
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        GLuint name = 0;
        glGenTextures(1, &name);
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

    // One frame; particle lives are drawn from rand, seeded alike for every frame compared.
    void frame() {
        std::srand(1);
        scene->render();
        pixels = context->readPixels();
    }

    // The pixel at (x, y) counted from the bottom-left corner, as the scene's coordinates run.
    RGBA at(int x, int y) const {
        size_t i = (static_cast<size_t>(context->height() - 1 - y) * context->width() + x) * 4;
        return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
    }
    int width() const { return context->width(); }
    int height() const { return context->height(); }

    std::unique_ptr<plat::gl::HeadlessContext> context;
    std::string failure;
    std::unique_ptr<SGScene> scene;
    SGClearNode* clear = nullptr;
    SGOrtho2DSpace* ortho = nullptr;
    std::vector<uint8_t> pixels;
    std::vector<GLuint> textures;
};

// Red, green and blue within `tolerance` of the expected 0-255 values (alpha not compared).
inline ::testing::AssertionResult near(const RGBA& actual, const RGBA& expected, int tolerance = 2) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(actual[i] - expected[i]) > tolerance)
            return ::testing::AssertionFailure()
                   << "got (" << actual[0] << ", " << actual[1] << ", " << actual[2] << "), expected ("
                   << expected[0] << ", " << expected[1] << ", " << expected[2] << ")";
    return ::testing::AssertionSuccess();
}
