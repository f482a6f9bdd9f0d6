// The particle system: the pool made once, new lives, and the life rules the renderers advance
// particles with (fixed random seed).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "scenegraph/SGScene.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/tests/SceneGraphTestSupport.h"

namespace {

class Particles : public ::testing::Test {
protected:
    Particles() { dk::scenegraph::seedParticleRandom(1234); }

    SGParticleSystemNode* emitter(int32_t count, float life, float start = 0.0f, bool spawn = true) {
        using enum SGPortID;
        node = static_cast<SGParticleSystemNode*>(
            scene.defaultSpace().createNode(SGNodeClassParticleSystemNode));
        dktest::setPorts(
            node, {{numParticles, count}, {lifetime, life}, {lifestart, start}, {spawnParticles, spawn}});
        return node;
    }

    // One frame at time t: compute, then advance every particle as a renderer does.
    std::vector<SGParticleState> frame(float t) {
        node->time.setValue(t);
        scene.render();
        std::vector<SGParticleState> states;
        for (int32_t i = 0; i < node->particleCount; ++i)
            states.push_back(node->advanceParticle(node->particles[i], t, node->spawnParticles.boolValue()));
        return states;
    }

    // How many particles are alive, hidden and retired.
    static std::array<int, 3> kinds(const std::vector<SGParticleState>& states) {
        std::array<int, 3> n{};
        for (const SGParticleState& s : states) ++n[s.kind];
        return n;
    }

    RecordingRenderers renderers;
    SGScene scene{nullptr, nullptr};
    SGParticleSystemNode* node = nullptr;
};

}  // namespace

TEST_F(Particles, PoolIsMadeOnceWithBirthTimesSpreadOverLifestart) {
    for (auto [lifestart, lo, hi] : {std::tuple{2.0f, 0.0f, 2.0f}, {-3.0f, -3.0f, 0.0f}}) {
        emitter(10, 1, lifestart)->compute();
        ASSERT_EQ(node->particleCount, 10);
        auto [first, last] = std::minmax_element(node->particles, node->particles + 10,
                                                 [](auto& p, auto& q) { return p.birthTime < q.birthTime; });
        EXPECT_GE(first->birthTime, lo);
        EXPECT_LT(last->birthTime, hi);
        EXPECT_GT(last->birthTime - first->birthTime, 0.5f);  // spread, not all alike
        SGParticle* pool = node->particles;
        node->numParticles.setValue(20);
        node->compute();
        EXPECT_EQ(std::pair(node->particles, node->particleCount), std::pair(pool, 10));
    }
    emitter(-5, 1);  // a negative count makes an empty pool that stays empty
    EXPECT_TRUE(frame(1.0f).empty());
    node->numParticles.setValue(5);
    EXPECT_TRUE(frame(2.0f).empty());
}

// Lives last half to all of the emitter's lifetime, from where the emitter is now.
TEST_F(Particles, NewLivesTakeTheEmitterAsItIsNow) {
    emitter(1, 4.0f);
    frame(0.0f);
    node->x.value = 40.0f;  // stored directly: nothing marked, yet read on the next frame
    frame(0.1f);
    for (float lifetime : {4.0f, -4.0f}) {
        node->lifetime.setValue(lifetime);
        node->compute();
        for (int i = 0; i < 50; ++i) {
            SGParticle p{};
            node->randomizeParticle(&p);
            EXPECT_GE(p.lifetime, std::min(lifetime, lifetime / 2));
            EXPECT_LT(p.lifetime, std::max(lifetime, lifetime / 2));
            EXPECT_EQ(p.positionX, 40.0f);
        }
    }
}

// Frames of an emitter and the alive, hidden and retired counts after each.
TEST_F(Particles, LifeRules) {
    struct Step {
        float t;
        int spawn;  // -1 leaves spawning as it is
        std::array<int, 3> kinds;
    };
    struct Case {
        const char* what;
        int32_t count;
        float lifetime, lifestart;
        bool spawn;
        std::vector<Step> steps;
        float birthTime = NAN;  // every particle's at the end, where checked
    } cases[] = {
        // clang-format off
        {"first lives start at their birth times", 20, 10, 2, true,
         {{0, -1, {0, 20, 0}}, {2.5f, -1, {20, 0, 0}}}},
        {"none born while spawning is off; a later start counts from the last frame", 5, 4, 1, false,
         {{0.5f, -1, {0, 5, 0}}, {3, -1, {0, 5, 0}}, {3.1f, 1, {5, 0, 0}}}, 3.0f},
        {"expired lives begin again, or retire for good", 4, 1, 0, true,
         {{0, -1, {0, 4, 0}}, {0.01f, -1, {4, 0, 0}}, {1.5f, -1, {0, 4, 0}}, {1.6f, -1, {4, 0, 0}},
          {3, 0, {0, 4, 0}}, {3.1f, -1, {0, 0, 4}}, {4, 1, {0, 0, 4}}}, SGParticleRetired},
        // clang-format on
    };
    for (const Case& c : cases) {
        emitter(c.count, c.lifetime, c.lifestart, c.spawn);
        for (const Step& s : c.steps) {
            if (s.spawn >= 0) node->spawnParticles.setValue(s.spawn != 0);
            EXPECT_EQ(kinds(frame(s.t)), s.kinds) << c.what << " at " << s.t;
        }
        for (int i = 0; i < c.count && !std::isnan(c.birthTime); ++i)
            EXPECT_EQ(node->particles[i].birthTime, c.birthTime) << c.what;
        scene.defaultSpace().removeNode(node);
    }
}

TEST_F(Particles, MotionSizeAndColourFollowTheParticlesAge) {
    using enum SGPortID;
    dktest::setPorts(emitter(1, 10.0f), {{speed, 2}, {gravityY, -4}, {angularVelocity, 30}, {rotation, 10}});
    dktest::setPorts(node, {{size, 1}, {sizeTarget, 5}, {sizeTransitionTime, 2}, {colorTransitionTime, 4}});
    node->color.value = {0, 0, 0, 1};
    node->colorTarget.value = {1, 1, 1, 0};
    frame(0.0f);
    frame(0.0001f);  // born; its age is now what follows
    node->particles[0].birthTime = 0.0f;

    SGParticleState s = frame(1.0f)[0];
    ASSERT_EQ(s.kind, SGParticleState::Alive);
    EXPECT_EQ((std::array{s.x, s.y, s.angle, s.height}), (std::array{2.0f, -2.0f, 40.0f, 3.0f}));
    EXPECT_EQ(s.color, (SGColor{0.25f, 0.25f, 0.25f, 0.75f}));
    // The colour goes on at the pace the particle was born with, whatever the emitter says now.
    node->colorTransitionTime.setValue(1.0f);
    s = frame(2.0f)[0];
    EXPECT_EQ(s.color, (SGColor{0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(s.width, 5.0f);
    EXPECT_EQ(frame(5.0f)[0].color, (SGColor{1, 1, 1, 0}));
    // Retired while t + 1 is still below its lifetime (5 to 10), it stays so.
    node->particles[0].birthTime = SGParticleRetired;
    EXPECT_EQ(frame(2.5f)[0].kind, SGParticleState::Retired);
}

// Premultiplied textures scale the particle colour (the every-path picture shows it); without a
// texture the flag does not count.
TEST_F(Particles, APremultipliedImageWithoutTextureKeepsTheColour) {
    emitter(1, 10.0f);
    node->colorTarget.value = {1, 0.5f, 0.2f, 0.5f};
    node->image.value = {0, 0, 3, 0, 0, {0, 0, 1, 1}, 1};
    frame(0.0f);
    EXPECT_EQ(frame(1.0f)[0].color, (SGColor{1, 0.5f, 0.2f, 0.5f}));
}
