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

SGSoundPlayerNode::SGSoundPlayerNode(dk::sound::SoundManager* manager)
    : m_soundManager(manager), m_managerSerial(SoundManager::liveSerial(manager)) {
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

void SGSoundPlayerNode::forgetSource() {
    m_source = nullptr;
    m_queued = false;
    m_paused = false;
    playing.value = false;
}

void SGSoundPlayerNode::compute() {
    dirty = false;
    if (!liveManager()) {
        forgetSource();  // it stopped every playing source on its way out
        return;
    }
    // Reading a port may compute the node behind it, and a sound loader asks the script for a
    // path: the script may delete the manager (its sources with it), update it (taking back a
    // finished source) or compute this node again. So every input is read first, and the node
    // acts only if none of that happened.
    const unsigned pass = ++m_pass;
    DKAudioSource* held = m_source;
    Inputs in;
    readControls(in, held != nullptr);
    // The sound last: a loader stores its sound on every read, which marks this node dirty again,
    // so any read after it would compute the node anew. A source keeps its queued sound.
    if (in.trigger && (in.stop || !m_queued)) in.sound = sound.soundValue();
    if (dirty && m_pass == pass) {
        // The script the loader asked may have changed a control: those are read once more.
        dirty = false;
        readControls(in, held != nullptr);
    }
    SoundManager* manager = liveManager();
    if (!manager)
        forgetSource();
    else if (m_pass == pass && m_source == held)
        act(*manager, in);
}

void SGSoundPlayerNode::readControls(Inputs& in, bool holding) {
    if (holding) {
        in.pause = pause.boolValue();
        in.resume = resume.boolValue();
        in.stop = stop.boolValue();
    }
    in.trigger = trigger.boolValue();
    if (in.trigger) in.loop = loop.boolValue();
    // Placement counts only for a source that will be playing.
    if (in.trigger || (holding && playing.value && !in.stop)) {
        in.x = x.numberValue();
        in.y = y.numberValue();
        in.dx = dx.numberValue();
        in.dy = dy.numberValue();
        in.volume = volume.numberValue();
        in.pitch = pitch.numberValue();
    }
}

void SGSoundPlayerNode::act(SoundManager& manager, const Inputs& in) {
    DKAudioSource* held = m_source;
    if (in.pause) {
        manager.pauseSource(held);
        m_paused = true;
    }
    if (in.resume) {
        manager.playSource(held);
        m_paused = false;
    }
    if (in.stop) {
        manager.stopSource(held);
        held = m_source;  // soundFinished cleared it
    }
    if (in.trigger) {
        if (!held) {
            held = m_source = manager.reserveSource();
            if (!held) return;  // every source is lent: try again on a later trigger
            held->setOwner(this, soundFinished);
        }
        m_looping = in.loop;
        held->setLooping(in.loop);
        if (!m_queued) {
            if (!in.sound || in.sound->bufferCount() < 1) {
                // Nothing to play: give the source back rather than keep it idle until some
                // later trigger brings a usable sound.
                manager.stopSource(held);
                return;
            }
            held->queueBuffers(in.sound);
            m_queued = true;
        }
        if (playing.value) {
            manager.restartSource(held);
        } else {
            held->setRelative(sourceRelative.value);
            manager.playSource(held);
            playing.value = true;
        }
        m_paused = false;
    }
    if (playing.value && held) {
        held->setLocation(in.x, in.y);
        held->setVelocity(in.dx, in.dy);
        held->setVolume(in.volume);
        held->setPitch(in.pitch);
    }
}

void DKInstallSoundNodeMakers() {
    SGSetNodeMaker(SGNodeClassSoundListenerNode, [](SGSpace&) -> SGNode* { return new SGSoundListenerNode; });
    SGSetNodeMaker(SGNodeClassSoundPlayerNode,
                   [](SGSpace& space) -> SGNode* { return new SGSoundPlayerNode(space.soundManager()); });
}
