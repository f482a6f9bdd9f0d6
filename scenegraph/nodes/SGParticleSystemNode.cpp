#include "scenegraph/nodes/SGParticleSystemNode.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

struct ParticleRandom {
    alignas(int32_t) char state[128] = {};  // random()'s default: the additive generator of degree 31
    random_data data{};

    ParticleRandom() { seed(1); }
    void seed(unsigned value) {
        data = random_data{};
        initstate_r(value, state, sizeof state, &data);
    }
};

ParticleRandom& particleRandom() {
    static ParticleRandom generator;
    return generator;
}

// A factor in [0, 1): 2147483649 is 2^31 + 1, just above the generator's largest value.
double randomFactor() {
    int32_t value = 0;
    random_r(&particleRandom().data, &value);
    return static_cast<double>(value) / 2147483649.0;
}

float interpolate(float a, float b, float t) {
    return a + (b - a) * t;
}

}  // namespace

SGParticleSystemNode::SGParticleSystemNode() {
    addNodeClass(SGNodeClassParticleSystemNode);
    addInputPort(&time, SGPortValueType::NUMBER);
    addInputPort(&spawnParticles, SGPortValueType::BOOLEAN);
    addInputPort(&numParticles, SGPortValueType::INTEGER);
    addInputPort(&image, SGPortValueType::IMAGE);
    addInputPort(&direction, SGPortValueType::NUMBER);
    addInputPort(&lifetime, SGPortValueType::NUMBER);
    addInputPort(&lifestart, SGPortValueType::NUMBER);
    addInputPort(&color, SGPortValueType::COLOR);
    addInputPort(&colorTarget, SGPortValueType::COLOR);
    for (SGNumberPort* port : {&colorTransitionTime, &x, &y, &rotation, &size, &sizeTarget,
                               &sizeTransitionTime, &gravityX, &gravityY, &speed, &angularVelocity})
        addInputPort(port, SGPortValueType::NUMBER);
    addInputPort(&blendingMode, SGPortValueType::INTEGER);
}

SGParticleSystemNode::~SGParticleSystemNode() {
    std::free(particles);
}

void SGParticleSystemNode::compute() {
    dirty = false;
    if (m_poolMade) {
        updateParticleSystem();
        return;
    }
    m_poolMade = true;
    particleCount = std::max(numParticles.intValue(), 0);
    if (particleCount > 0) {
        particles =
            static_cast<SGParticle*>(std::calloc(static_cast<size_t>(particleCount), sizeof(SGParticle)));
        if (!particles) particleCount = 0;
    }
    emitterLifestart = lifestart.numberValue();
    updateParticleSystem();

    double lo = std::min(0.0f, emitterLifestart);
    double hi = std::max(0.0f, emitterLifestart);
    for (int32_t i = 0; i < particleCount; ++i) {
        particles[i].birthTime = static_cast<float>(lo + randomFactor() * (hi - lo));
        particles[i].initialized = 0;
    }
}

void SGParticleSystemNode::updateParticleSystem() {
    emitterX = x.numberValue();
    emitterY = y.numberValue();
    emitterRotation = rotation.numberValue();
    emitterLifetime = lifetime.numberValue();
    emitterImage = image.imageValue();
    emitterDirection = direction.numberValue();
    emitterColor = color.colorValue();
    emitterColorTarget = colorTarget.colorValue();
    emitterColorTransitionTime = colorTransitionTime.numberValue();
    emitterSize = size.numberValue();
    emitterSizeTarget = sizeTarget.numberValue();
    emitterSizeTransitionTime = sizeTransitionTime.numberValue();
    emitterGravityX = gravityX.numberValue();
    emitterGravityY = gravityY.numberValue();
    emitterSpeed = speed.numberValue();
    emitterAngularVelocity = angularVelocity.numberValue();
    float radians = static_cast<float>(emitterDirection * 0.017453292519943295);
    emitterVelocityX = emitterSpeed * std::cos(radians);
    emitterVelocityY = emitterSpeed * std::sin(radians);
}

void SGParticleSystemNode::randomizeParticle(SGParticle* p) {
    float lo = emitterLifetime * 0.5f;
    float hi = emitterLifetime;
    if (lo > hi) std::swap(lo, hi);
    p->lifetime = static_cast<float>(lo + randomFactor() * (hi - lo));
    p->velocityX = emitterVelocityX;
    p->velocityY = emitterVelocityY;
    p->startSize = p->startSize2 = emitterSize;
    p->targetSize = p->targetSize2 = emitterSizeTarget;
    p->angularVelocity = emitterAngularVelocity;
    p->rotation = emitterRotation;
    p->positionX = emitterX;
    p->positionY = emitterY;
    p->colorTransitionTime = emitterColorTransitionTime;
    p->initialized = 1;
}

SGParticleState SGParticleSystemNode::advanceParticle(SGParticle& p, float t, bool spawn) {
    SGParticleState state{};
    state.kind = SGParticleState::Hidden;

    if (!p.initialized) {
        if (!(t - p.birthTime > 0.0f)) return state;
        if (!spawn) {
            p.birthTime = t;  // postponed: an emitter switched on later starts afresh
            return state;
        }
        randomizeParticle(&p);
    } else if (p.birthTime == SGParticleRetired) {
        // Checked before the age: a retired particle must not come back while t + 1 is below
        // its last lifetime.
        state.kind = SGParticleState::Retired;
        return state;
    }

    float age = t - p.birthTime;
    if (age > 0.0f && age < p.lifetime) {
        state.kind = SGParticleState::Alive;
        state.x = p.positionX + age * (p.velocityX + 0.5f * emitterGravityX * age);
        state.y = p.positionY + age * (p.velocityY + 0.5f * emitterGravityY * age);
        state.angle = p.rotation + age * p.angularVelocity;
        if (age < emitterSizeTransitionTime) {
            float f = age / emitterSizeTransitionTime;
            state.width = interpolate(p.startSize, p.targetSize, f);
            state.height = interpolate(p.startSize2, p.targetSize2, f);
        } else {
            state.width = p.targetSize;
            state.height = p.targetSize2;
        }
        // The particle's own transition time, fixed at its birth, paces its colour.
        if (age < p.colorTransitionTime) {
            float f = age / p.colorTransitionTime;
            state.color = {interpolate(emitterColor.r, emitterColorTarget.r, f),
                           interpolate(emitterColor.g, emitterColorTarget.g, f),
                           interpolate(emitterColor.b, emitterColorTarget.b, f),
                           interpolate(emitterColor.a, emitterColorTarget.a, f)};
        } else {
            state.color = emitterColorTarget;
        }
        if (textured() && emitterImage.premultiplied) {
            state.color.r *= state.color.a;
            state.color.g *= state.color.a;
            state.color.b *= state.color.a;
        }
        return state;
    }
    if (age < p.lifetime) return state;  // not born yet

    if (spawn) {
        p.birthTime = t;
        randomizeParticle(&p);
    } else {
        p.birthTime = SGParticleRetired;
    }
    return state;
}

SGPort* SGParticleSystemNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::time:
            return &time;
        case SGPortID::spawnParticles:
            return &spawnParticles;
        case SGPortID::numParticles:
            return &numParticles;
        case SGPortID::image:
            return &image;
        case SGPortID::direction:
            return &direction;
        case SGPortID::lifetime:
            return &lifetime;
        case SGPortID::lifestart:
            return &lifestart;
        case SGPortID::color:
            return &color;
        case SGPortID::colorTarget:
            return &colorTarget;
        case SGPortID::colorTransitionTime:
            return &colorTransitionTime;
        case SGPortID::x:
            return &x;
        case SGPortID::y:
            return &y;
        case SGPortID::rotation:
            return &rotation;
        case SGPortID::size:
            return &size;
        case SGPortID::sizeTarget:
            return &sizeTarget;
        case SGPortID::sizeTransitionTime:
            return &sizeTransitionTime;
        case SGPortID::gravityX:
            return &gravityX;
        case SGPortID::gravityY:
            return &gravityY;
        case SGPortID::speed:
            return &speed;
        case SGPortID::angularVelocity:
            return &angularVelocity;
        case SGPortID::blendingMode:
            return &blendingMode;
        default:
            return nullptr;
    }
}

void dk::scenegraph::seedParticleRandom(unsigned seed) {
    particleRandom().seed(seed);
}
