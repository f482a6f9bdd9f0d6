// A particle emitter: a zero-filled pool of particles made once at the first computation, and an
// emitter record copied from the ports every frame. The render managers advance and draw the pool
// with advanceParticle, which both renderers share and which holds the life rules: first lives at
// their birth times, postponed while spawning is off; colour paced by each particle's own
// transition time; retired particles stay retired. Its random sequence is its own (not rand()),
// seeded 1 as rand() starts and reseeded when the last engine state closes.
#pragma once

#include <cstdint>

#include "scenegraph/SGNode.h"

struct SGParticle {
    float velocityX;
    float velocityY;
    float positionX;
    float positionY;
    float angularVelocity;
    float birthTime;  // "time" at which its life starts; SGParticleRetired once it will not live again
    float lifetime;
    float startSize;
    float startSize2;
    float targetSize;
    float targetSize2;
    float rotation;
    float colorTransitionTime;
    int32_t initialized;  // 0 until its first life is set up, then 1
};

inline constexpr float SGParticleRetired = -1.0f;

// What one particle shows in a frame.
struct SGParticleState {
    enum Kind {
        Alive,    // drawn as described by the fields below
        Hidden,   // not born yet, or expired this frame: its vertices are zeroed
        Retired,  // will not live again: its vertices are left as they are
    };
    Kind kind;
    float x;
    float y;
    float angle;  // degrees
    float width;
    float height;
    SGColor color;  // premultiplied when the emitter image is
};

class SGParticleSystemNode : public SGRenderNode {
public:
    SGParticleSystemNode();
    ~SGParticleSystemNode() override;

    // Makes the pool the first time ("numParticles" and "lifestart" are read only then), and
    // refreshes the emitter record every time.
    void compute() override;
    SGPort* portForID(SGPortID id) override;

    void updateParticleSystem();
    // A new life from the emitter record: a lifetime between half and all of the emitter's.
    void randomizeParticle(SGParticle* particle);

    // One particle at time t (the "time" port), starting lives as the rules below say.
    //
    // A particle that has not lived yet (initialized 0) waits until its birth time has passed; its
    // first life then starts at that birth time, so lifestart staggers (or, negative, pre-runs)
    // the emission. While spawning is off its birth is postponed, so an emitter switched on later
    // starts from the emitter, not halfway through lives that never showed. Afterwards: alive while 0 < age <
    // lifetime; once its age reaches its lifetime it is hidden for the frame and starts a new life at t when
    // spawning, else it is retired for good.
    SGParticleState advanceParticle(SGParticle& particle, float t, bool spawn);

    bool textured() const { return emitterImage.textureWidth >= 1; }

    SGNumberPort time;
    SGBooleanPort spawnParticles;
    SGIntegerPort numParticles;
    SGImagePort image;
    SGNumberPort direction;
    SGNumberPort lifetime;
    SGNumberPort lifestart;
    SGColorPort color{SGWhiteColor};
    SGColorPort colorTarget{SGWhiteColor};
    SGNumberPort colorTransitionTime;
    SGNumberPort x;
    SGNumberPort y;
    SGNumberPort rotation;
    SGNumberPort size;
    SGNumberPort sizeTarget;
    SGNumberPort sizeTransitionTime;
    SGNumberPort gravityX;
    SGNumberPort gravityY;
    SGNumberPort speed;
    SGNumberPort angularVelocity;
    SGIntegerPort blendingMode;

    // The pool: zero-filled records, made once (null before the first computation).
    SGParticle* particles = nullptr;
    int32_t particleCount = 0;

    // The emitter record.
    float emitterX = 0.0f;
    float emitterY = 0.0f;
    float emitterRotation = 0.0f;
    float emitterLifetime = 0.0f;
    float emitterLifestart = 0.0f;
    SGImage emitterImage{0, 0, 0, 0, 0, {0.0f, 0.0f, 1.0f, 1.0f}, 0};
    float emitterDirection = 0.0f;  // degrees
    SGColor emitterColor{0.0f, 0.0f, 0.0f, 0.0f};
    SGColor emitterColorTarget{0.0f, 0.0f, 0.0f, 0.0f};
    float emitterColorTransitionTime = 0.0f;
    float emitterSize = 0.0f;
    float emitterSizeTarget = 0.0f;
    float emitterSizeTransitionTime = 0.0f;
    float emitterGravityX = 0.0f;
    float emitterGravityY = 0.0f;
    float emitterSpeed = 0.0f;
    float emitterAngularVelocity = 0.0f;
    float emitterVelocityX = 0.0f;
    float emitterVelocityY = 0.0f;

private:
    bool m_poolMade = false;  // a pool of 0 particles has no allocation but is made all the same
};

namespace dk::scenegraph {

// Starts the particles' random sequence at `seed`. It is their own (the C library's rand()
// algorithm on a state nobody else draws from, so seed 1 gives what rand() gives in a new
// process), and the engine starts it again at 1 when its last state closes: a second game in one
// process scatters its particles exactly as the first did.
void seedParticleRandom(unsigned seed);

}  // namespace dk::scenegraph
