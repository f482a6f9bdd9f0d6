#include "engine/sound/SGSoundNodes.h"

#include "engine/sound/ALCheck.h"

namespace dk {

// ---------------------------------------------------------------------------------------------
// Listener

SGSoundListenerNode::SGSoundListenerNode() {
    addNodeClass(SGNodeClassSoundListenerNode);
    for (SGNumberPort* port : {&x, &y, &gain}) addInputPort(port, SGPortValueType::NUMBER);
}

SGPort* SGSoundListenerNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::x:
            return &x;
        case SGPortID::y:
            return &y;
        case SGPortID::gain:
            return &gain;
        default:
            return nullptr;
    }
}

void SGSoundListenerNode::compute() {
    // Without a context (no audio, or the manager suspended) there is no listener to place.
    if (!DKHasALContext()) return;
    DKCheckALError("SGSoundListenerNode::compute");
    alListener3f(AL_POSITION, x.numberValue(), y.numberValue(), -50.0f);
    DKCheckALError("SGSoundListenerNode::compute: alListener3f");
    alListenerf(AL_GAIN, gain.numberValue());
    DKCheckALError("SGSoundListenerNode::compute: alListenerf");
}

// ---------------------------------------------------------------------------------------------
// Player

SGSoundPlayerNode::SGSoundPlayerNode(SoundManager* manager) : soundManager(manager) {
    addNodeClass(SGNodeClassSoundPlayerNode);
    addOutputPort(&playing, SGPortValueType::BOOLEAN);
    addInputPort(&sound, SGPortValueType::SOUND);
    for (SGNumberPort* port : {&x, &y, &dx, &dy}) addInputPort(port, SGPortValueType::NUMBER);
    addInputPort(&sourceRelative, SGPortValueType::BOOLEAN);
    for (SGNumberPort* port : {&volume, &pitch}) addInputPort(port, SGPortValueType::NUMBER);
    for (SGBooleanPort* port : {&loop, &trigger, &stop, &pause, &resume})
        addInputPort(port, SGPortValueType::BOOLEAN);
}

SGSoundPlayerNode::~SGSoundPlayerNode() {
    SoundManager* manager = liveManager();
    if (!manager || !source) return;
    DKAudioSource* held = source;
    held->owner = nullptr;
    held->finishedCallback = nullptr;
    source = nullptr;
    // A one-shot sound finishes on its own and the manager takes the source back then; a looping
    // or paused one never would.
    if (looping_ || paused_) manager->stopSource(held);
}

SGPort* SGSoundPlayerNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::playing:
            return &playing;
        case SGPortID::sound:
            return &sound;
        case SGPortID::x:
            return &x;
        case SGPortID::y:
            return &y;
        case SGPortID::dx:
            return &dx;
        case SGPortID::dy:
            return &dy;
        case SGPortID::sourceRelative:
            return &sourceRelative;
        case SGPortID::volume:
            return &volume;
        case SGPortID::pitch:
            return &pitch;
        case SGPortID::loop:
            return &loop;
        case SGPortID::trigger:
            return &trigger;
        case SGPortID::stop:
            return &stop;
        case SGPortID::pause:
            return &pause;
        case SGPortID::resume:
            return &resume;
        default:
            return nullptr;
    }
}

void SGSoundPlayerNode::soundFinished(DKAudioSource* source) {
    if (!source || !source->owner) return;
    auto* node = static_cast<SGSoundPlayerNode*>(source->owner);
    // The source may be lent again to a holder that installs no callback of its own.
    source->owner = nullptr;
    source->finishedCallback = nullptr;
    if (node->source != source) return;
    node->playing.value = false;
    node->source = nullptr;
    node->queued = false;
    node->paused_ = false;
}

void SGSoundPlayerNode::compute() {
    dirty = false;
    SoundManager* manager = liveManager();
    if (!manager) {
        // The manager went away; it stopped every playing source on its way out.
        source = nullptr;
        queued = false;
        playing.value = false;
        return;
    }

    if (source) {
        if (pause.boolValue()) {
            manager->pauseSource(source);
            paused_ = true;
        }
        if (source && resume.boolValue()) {
            manager->playSource(source);
            paused_ = false;
        }
        if (source && stop.boolValue()) manager->stopSource(source);  // soundFinished clears `source`
    }

    if (trigger.boolValue()) {
        bool proceed = true;
        if (!source) {
            source = manager->reserveSource();
            if (source) {
                source->owner = this;
                source->finishedCallback = soundFinished;
            } else {
                proceed = false;  // every source is lent: try again on a later trigger
            }
        }
        if (proceed) {
            looping_ = loop.boolValue();
            source->setLooping(looping_);
            if (!queued) {
                std::shared_ptr<SGSound> usable = sound.soundValue();
                if (!usable || usable->bufferCount < 1) {
                    // Nothing to play: give the source back rather than keep it idle until some
                    // later trigger brings a usable sound.
                    manager->stopSource(source);
                    return;
                }
                source->queueBuffers(usable);
                queued = true;
            }
            if (playing.value) {
                manager->restartSource(source);
            } else {
                source->setRelative(sourceRelative.value);
                manager->playSource(source);
                playing.value = true;
            }
            paused_ = false;
        }
    }

    if (playing.value && source) {
        float px = x.numberValue(), py = y.numberValue();
        float vx = dx.numberValue(), vy = dy.numberValue();
        source->setLocation(px, py);
        source->setVelocity(vx, vy);
        source->setVolume(volume.numberValue());
        source->setPitch(pitch.numberValue());
    }
}

void DKInstallSoundNodeMakers() {
    SGSetNodeMaker(SGNodeClassSoundListenerNode, [](SGSpace&) -> SGNode* { return new SGSoundListenerNode; });
    SGSetNodeMaker(SGNodeClassSoundPlayerNode,
                   [](SGSpace& space) -> SGNode* { return new SGSoundPlayerNode(space.soundManager()); });
}

}  // namespace dk
