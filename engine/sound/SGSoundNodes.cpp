#include "engine/sound/SGSoundNodes.h"

#include "engine/sound/ALCheck.h"

using dk::sound::SoundManager;

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

SGSoundPlayerNode::SGSoundPlayerNode(dk::sound::SoundManager* manager) : m_soundManager(manager) {
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
    if (!manager || !m_source) return;
    DKAudioSource* held = m_source;
    held->setOwner(nullptr, nullptr);
    m_source = nullptr;
    // A one-shot sound finishes on its own and the manager takes the source back then; a looping
    // or paused one never would.
    if (m_looping || m_paused) manager->stopSource(held);
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
    if (!source || !source->owner()) return;
    auto* node = static_cast<SGSoundPlayerNode*>(source->owner());
    // The source may be lent again to a holder that installs no callback of its own.
    source->setOwner(nullptr, nullptr);
    if (node->m_source != source) return;
    node->playing.value = false;
    node->m_source = nullptr;
    node->m_queued = false;
    node->m_paused = false;
}

void SGSoundPlayerNode::compute() {
    dirty = false;
    SoundManager* manager = liveManager();
    if (!manager) {
        // The manager went away; it stopped every playing source on its way out.
        m_source = nullptr;
        m_queued = false;
        playing.value = false;
        return;
    }

    if (m_source) {
        if (pause.boolValue()) {
            manager->pauseSource(m_source);
            m_paused = true;
        }
        if (m_source && resume.boolValue()) {
            manager->playSource(m_source);
            m_paused = false;
        }
        if (m_source && stop.boolValue()) manager->stopSource(m_source);  // soundFinished clears `m_source`
    }

    if (trigger.boolValue()) {
        bool proceed = true;
        if (!m_source) {
            m_source = manager->reserveSource();
            if (m_source) {
                m_source->setOwner(this, soundFinished);
            } else {
                proceed = false;  // every source is lent: try again on a later trigger
            }
        }
        if (proceed) {
            m_looping = loop.boolValue();
            m_source->setLooping(m_looping);
            if (!m_queued) {
                std::shared_ptr<SGSound> usable = sound.soundValue();
                if (!usable || usable->bufferCount() < 1) {
                    // Nothing to play: give the source back rather than keep it idle until some
                    // later trigger brings a usable sound.
                    manager->stopSource(m_source);
                    return;
                }
                m_source->queueBuffers(usable);
                m_queued = true;
            }
            if (playing.value) {
                manager->restartSource(m_source);
            } else {
                m_source->setRelative(sourceRelative.value);
                manager->playSource(m_source);
                playing.value = true;
            }
            m_paused = false;
        }
    }

    if (playing.value && m_source) {
        float px = x.numberValue(), py = y.numberValue();
        float vx = dx.numberValue(), vy = dy.numberValue();
        m_source->setLocation(px, py);
        m_source->setVelocity(vx, vy);
        m_source->setVolume(volume.numberValue());
        m_source->setPitch(pitch.numberValue());
    }
}

void DKInstallSoundNodeMakers() {
    SGSetNodeMaker(SGNodeClassSoundListenerNode, [](SGSpace&) -> SGNode* { return new SGSoundListenerNode; });
    SGSetNodeMaker(SGNodeClassSoundPlayerNode,
                   [](SGSpace& space) -> SGNode* { return new SGSoundPlayerNode(space.soundManager()); });
}
