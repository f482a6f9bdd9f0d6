// The particle system: the pool made once, the emitter record, new lives, and the life rules the
// renderers advance particles with (fixed random seed).
#include <gtest/gtest.h>

#include <cstdlib>

#include "scenegraph/SGScene.h"
#include "scenegraph/nodes/SGParticleSystemNode.h"
#include "scenegraph/tests/RecordingRenderManager.h"

namespace {

class Particles : public ::testing::Test {
protected:
    Particles()
        : node(static_cast<SGParticleSystemNode*>(
              scene.defaultSpace().createNode(SGNodeClassParticleSystemNode))) {
        std::srand(1234);
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

    // The emitter's pool and lives; spawning unless told otherwise.
    void emitter(int32_t count, float lifetime, float lifestart = 0.0f, bool spawn = true) {
        node->numParticles.setValue(count);
        node->lifetime.setValue(lifetime);
        node->lifestart.setValue(lifestart);
        node->spawnParticles.setValue(spawn);
    }

    static int count(const std::vector<SGParticleState>& states, SGParticleState::Kind kind) {
        int n = 0;
        for (const SGParticleState& s : states) n += s.kind == kind;
        return n;
    }

    RecordingRenderers renderers;
    SGScene scene{nullptr, nullptr};
    SGParticleSystemNode* node;
};

}  // namespace

TEST_F(Particles, PoolIsMadeOnceWithBirthTimesSpreadOverLifestart) {
    struct Case {
        float lifestart, lo, hi;
    } cases[] = {{2, 0, 2}, {-3, -3, 0}};
    for (const Case& c : cases) {
        SGParticleSystemNode* n = static_cast<SGParticleSystemNode*>(
            scene.defaultSpace().createNode(SGNodeClassParticleSystemNode));
        n->numParticles.setValue(10);
        n->lifestart.setValue(c.lifestart);
        n->compute();
        ASSERT_EQ(n->particleCount, 10);
        float lowest = 1e9f, highest = -1e9f;
        for (int i = 0; i < 10; ++i) {
            const SGParticle& p = n->particles[i];
            EXPECT_GE(p.birthTime, c.lo);
            EXPECT_LT(p.birthTime, c.hi);
            EXPECT_EQ(p.initialized, 0);
            lowest = std::min(lowest, p.birthTime);
            highest = std::max(highest, p.birthTime);
        }
        EXPECT_GT(highest - lowest, 0.5f);  // spread, not all alike

        SGParticle* pool = n->particles;
        n->numParticles.setValue(20);
        n->lifestart.setValue(5.0f);
        n->compute();
        EXPECT_EQ(n->particles, pool);
        EXPECT_EQ(n->particleCount, 10);
    }
}

TEST_F(Particles, NegativeOrZeroCountsMakeAnEmptyPoolThatStaysEmpty) {
    node->numParticles.setValue(-5);
    node->spawnParticles.setValue(true);
    EXPECT_TRUE(frame(1.0f).empty());
    EXPECT_EQ(node->particleCount, 0);
    node->numParticles.setValue(5);
    EXPECT_TRUE(frame(2.0f).empty());
}

TEST_F(Particles, EmitterVelocityFollowsDirectionInDegrees) {
    struct Case {
        float direction, vx, vy;
    } cases[] = {{90, 0, 10}, {180, -10, 0}, {45, 7.0710678f, 7.0710678f}};
    node->speed.setValue(10.0f);
    for (const Case& c : cases) {
        node->direction.setValue(c.direction);
        node->compute();
        EXPECT_NEAR(node->emitterVelocityX, c.vx, 1e-5f) << c.direction;
        EXPECT_NEAR(node->emitterVelocityY, c.vy, 1e-5f) << c.direction;
    }
}

TEST_F(Particles, NewLivesLastHalfToAllOfTheEmitterLifetime) {
    for (float lifetime : {4.0f, -4.0f}) {
        node->lifetime.setValue(lifetime);
        node->sizeTarget.setValue(7.0f);
        node->compute();
        float lo = std::min(lifetime, lifetime / 2), hi = std::max(lifetime, lifetime / 2);
        for (int i = 0; i < 50; ++i) {
            SGParticle p{};
            node->randomizeParticle(&p);
            EXPECT_GE(p.lifetime, lo);
            EXPECT_LT(p.lifetime, hi);
            EXPECT_EQ(p.targetSize, 7.0f);
        }
    }
}

TEST_F(Particles, ParametersReachNewLivesOnTheNextFrameWithoutMarking) {
    node->numParticles.setValue(1);
    frame(0.0f);
    node->color.value = {1, 0, 0, 1};  // stored directly: nothing marked
    node->x.value = 40.0f;
    frame(0.1f);
    EXPECT_EQ(node->emitterColor, (SGColor{1, 0, 0, 1}));
    SGParticle p{};
    node->randomizeParticle(&p);
    EXPECT_EQ(p.positionX, 40.0f);
}

TEST_F(Particles, FirstLivesStartAtTheirBirthTimesWhileSpawning) {
    emitter(20, 10.0f, 2.0f);
    EXPECT_EQ(count(frame(0.0f), SGParticleState::Hidden), 20);
    std::vector<SGParticleState> states = frame(1.0f);
    for (int i = 0; i < 20; ++i) {
        const SGParticle& p = node->particles[i];
        EXPECT_EQ(states[i].kind == SGParticleState::Alive, p.birthTime < 1.0f);
        EXPECT_LT(p.birthTime, 2.0f);  // a first life keeps its scheduled birth time
    }
    EXPECT_EQ(count(frame(2.5f), SGParticleState::Alive), 20);
}

TEST_F(Particles, NothingIsBornWhileSpawningIsOffAndTheEmitterCanStartLater) {
    emitter(5, 4.0f, 1.0f, false);
    for (float t : {0.5f, 2.0f, 3.0f}) EXPECT_EQ(count(frame(t), SGParticleState::Hidden), 5) << t;
    node->spawnParticles.setValue(true);
    EXPECT_EQ(count(frame(3.1f), SGParticleState::Alive), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(node->particles[i].birthTime, 3.0f);  // the last frame's time
}

TEST_F(Particles, NegativeLifestartRunsTheEmitterAhead) {
    emitter(8, 8.0f, -3.0f);  // lives of 4 to 8: all still alive at time 0
    node->speed.setValue(1.0f);
    std::vector<SGParticleState> states = frame(0.01f);
    ASSERT_EQ(count(states, SGParticleState::Alive), 8);
    for (int i = 0; i < 8; ++i)  // already on their way, by their age
        EXPECT_NEAR(states[i].x, 0.01f - node->particles[i].birthTime, 1e-5f);
}

TEST_F(Particles, ExpiredParticlesRespawnAtTheCurrentTimeOrRetire) {
    emitter(4, 1.0f);
    frame(0.0f);
    EXPECT_EQ(count(frame(0.01f), SGParticleState::Alive), 4);
    // At 1.5 every life (0.5 to 1 long) has ended: hidden for this frame and begun again.
    EXPECT_EQ(count(frame(1.5f), SGParticleState::Hidden), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(node->particles[i].birthTime, 1.5f);
    EXPECT_EQ(count(frame(1.6f), SGParticleState::Alive), 4);

    node->spawnParticles.setValue(false);
    frame(3.0f);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(node->particles[i].birthTime, SGParticleRetired);
    EXPECT_EQ(count(frame(3.1f), SGParticleState::Retired), 4);
    node->spawnParticles.setValue(true);  // retired for good
    EXPECT_EQ(count(frame(4.0f), SGParticleState::Retired), 4);
}

TEST_F(Particles, ARetiredParticleDoesNotComeBackEarlyInTheGame) {
    emitter(1, 4.0f);
    frame(0.0f);
    frame(0.001f);
    SGParticle& p = node->particles[0];
    p.birthTime = SGParticleRetired;  // t + 1 is below its lifetime from here on
    EXPECT_EQ(node->advanceParticle(p, 0.5f, true).kind, SGParticleState::Retired);
}

TEST_F(Particles, MotionSizeAndColourFollowTheParticlesAge) {
    emitter(1, 10.0f);
    node->direction.setValue(0.0f);
    node->speed.setValue(2.0f);
    node->gravityY.setValue(-4.0f);
    node->angularVelocity.setValue(30.0f);
    node->rotation.setValue(10.0f);
    node->size.setValue(1.0f);
    node->sizeTarget.setValue(5.0f);
    node->sizeTransitionTime.setValue(2.0f);
    node->color.value = {0, 0, 0, 1};
    node->colorTarget.value = {1, 1, 1, 0};
    node->colorTransitionTime.setValue(4.0f);
    frame(0.0f);
    frame(0.0001f);  // born; its age is now what follows
    node->particles[0].birthTime = 0.0f;

    SGParticleState s = frame(1.0f)[0];
    ASSERT_EQ(s.kind, SGParticleState::Alive);
    EXPECT_FLOAT_EQ(s.x, 2.0f);
    EXPECT_FLOAT_EQ(s.y, -2.0f);
    EXPECT_FLOAT_EQ(s.angle, 40.0f);
    EXPECT_FLOAT_EQ(s.height, 3.0f);
    EXPECT_EQ(s.color, (SGColor{0.25f, 0.25f, 0.25f, 0.75f}));

    // The colour goes on at the pace the particle was born with, whatever the emitter says now.
    node->colorTransitionTime.setValue(1.0f);
    s = frame(2.0f)[0];
    EXPECT_EQ(s.color, (SGColor{0.5f, 0.5f, 0.5f, 0.5f}));
    EXPECT_FLOAT_EQ(s.width, 5.0f);
    s = frame(5.0f)[0];
    EXPECT_EQ(s.color, (SGColor{1, 1, 1, 0}));
}

TEST_F(Particles, PremultipliedTexturesScaleTheParticleColour) {
    emitter(1, 10.0f);
    node->colorTarget.value = {1, 0.5f, 0.2f, 0.5f};
    node->image.value = {8, 8, 3, 8, 8, {0, 0, 1, 1}, 1};
    frame(0.0f);
    EXPECT_EQ(frame(1.0f)[0].color, (SGColor{0.5f, 0.25f, 0.1f, 0.5f}));
    node->image.value.textureWidth = 0;  // untextured: the flag does not count
    EXPECT_EQ(frame(2.0f)[0].color, (SGColor{1, 0.5f, 0.2f, 0.5f}));
}
