// The listener and player nodes over the source pool, on a real (null-output) device.
#include <gtest/gtest.h>

#include "engine/sound/SGSoundNodes.h"
#include "engine/sound/tests/SoundTestSupport.h"

using dk::sound::SoundManager;
using namespace dktest;

namespace {

ALint sourceInt(DKAudioSource* s, ALenum what) {
    ALint v = -1;
    alGetSourcei(s->sourceName(), what, &v);
    return v;
}

// Reads "playing" as a consumer would, which computes the node when it is dirty.
bool readPlaying(SGSoundPlayerNode& node) {
    node.dirty = true;
    return node.playing.boolValue();
}

bool act(SGSoundPlayerNode& node, std::initializer_list<SGBooleanPort*> on) {
    setControls(node, on);
    return readPlaying(node);
}

TEST(SGSoundNodesTest, ListenerIsPlacedFromItsPorts) {
    SoundManager m;
    SGSoundListenerNode listener;
    listener.x.setValue(10.0f);
    listener.gain.setValue(0.25f);
    listener.compute();
    ALfloat p[4] = {};
    alGetListenerfv(AL_POSITION, p);
    alGetListenerf(AL_GAIN, &p[3]);
    EXPECT_EQ((std::vector<float>{p, p + 4}), (std::vector<float>{10, 160, -50, 0.25f}));
}

TEST(SGSoundNodesTest, TriggerPlaysRestartsAndStopGivesTheSourceBack) {
    SoundManager m;
    SGSoundPlayerNode player(&m), other(&m);
    player.sound.setValue(toneSound(1.0));
    player.x.setValue(3.0f);
    player.volume.setValue(0.5f);
    player.sourceRelative.setValue(&other.loop);  // reads false, but the stored value counts
    ASSERT_TRUE(act(player, {&player.trigger}));
    DKAudioSource* s = player.source();
    ALfloat pos[3], gain = 0;
    alGetSource3f(s->sourceName(), AL_POSITION, &pos[0], &pos[1], &pos[2]);
    alGetSourcef(s->sourceName(), AL_GAIN, &gain);
    EXPECT_EQ((std::vector<float>{pos[0], gain}), (std::vector<float>{3, 0.5f}));
    EXPECT_EQ(sourceInt(s, AL_SOURCE_STATE), AL_PLAYING);
    EXPECT_EQ(sourceInt(s, AL_SOURCE_RELATIVE), AL_TRUE);

    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ALint before = sourceInt(s, AL_SAMPLE_OFFSET);
    EXPECT_TRUE(readPlaying(player));  // trigger still true: from the start again, same source
    EXPECT_EQ(player.source(), s);
    EXPECT_LT(sourceInt(s, AL_SAMPLE_OFFSET), before);
    EXPECT_EQ(s->queuedSoundCount(), 1u) << "queued once per lent source";

    EXPECT_FALSE(act(player, {&player.stop}));
    EXPECT_EQ(player.source(), nullptr);
    EXPECT_EQ(m.freeCount(), 32u);
    player.sourceRelative.disconnect();
    player.sourceRelative.setValue(false);
    ASSERT_TRUE(act(player, {&player.trigger}));
    EXPECT_EQ(sourceInt(player.source(), AL_SOURCE_RELATIVE), AL_FALSE);
}

TEST(SGSoundNodesTest, NoUsableSoundOrNoFreeSourceLeavesThePoolAsItWas) {
    SoundManager m;
    SGSoundPlayerNode player(&m);
    EXPECT_FALSE(act(player, {&player.trigger}));
    player.sound.setValue(std::make_shared<SGSound>());  // decoded nothing: no buffers
    EXPECT_FALSE(readPlaying(player));
    EXPECT_EQ(m.freeCount(), 32u) << "a source without a sound goes back at once";

    std::vector<DKAudioSource*> all;
    while (DKAudioSource* s = m.reserveSource()) all.push_back(s);
    player.sound.setValue(toneSound(1.0));
    EXPECT_FALSE(readPlaying(player));
    m.stopSource(all.back());
    EXPECT_TRUE(readPlaying(player)) << "the next trigger tries again";
}

TEST(SGSoundNodesTest, DestroyedPlayersLetOneShotsFinishAndStopLoopsAndPauses) {
    SoundManager m;
    auto sound = toneSound(0.05);
    DKAudioSource* oneShot = nullptr;
    {
        SGSoundPlayerNode player(&m), looping(&m), paused(&m);
        for (SGSoundPlayerNode* p : {&player, &looping, &paused}) {
            p->sound.setValue(sound);
            p->loop.setValue(p == &looping);
            ASSERT_TRUE(act(*p, {&p->trigger}));
        }
        act(paused, {&paused.pause});
        oneShot = player.source();
    }
    EXPECT_EQ(oneShot->finishedCallback(), nullptr);
    EXPECT_EQ(sourceInt(oneShot, AL_SOURCE_STATE), AL_PLAYING) << "a one-shot sound plays on";
    EXPECT_EQ(m.freeCount(), 31u) << "the looping and the paused sound were stopped";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m.update();
    EXPECT_EQ(m.freeCount(), 32u);
}

TEST(SGSoundNodesTest, APlayerOutlivingItsManagerIsHarmless) {
    auto* m = new SoundManager;
    SGSoundPlayerNode player(m);
    player.sound.setValue(toneSound(1.0));
    ASSERT_TRUE(act(player, {&player.trigger}));
    delete m;  // stops the source, which tells the node
    EXPECT_EQ(player.source(), nullptr);
    EXPECT_FALSE(readPlaying(player));
}

}  // namespace
