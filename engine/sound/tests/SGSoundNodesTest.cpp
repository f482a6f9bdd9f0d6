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

// Sets the controls and reads "playing" as a consumer would, which computes a dirty node.
bool act(SGSoundPlayerNode& node, std::initializer_list<SGBooleanPort*> on) {
    setControls(node, on);
    node.dirty = true;
    return node.playing.boolValue();
}

TEST(SGSoundNodesTest, TriggerPlaysRestartsAndStopGivesTheSourceBack) {
    SoundManager m;
    SGSoundPlayerNode player(&m), other(&m);
    player.sound.setValue(toneSound(1.0));
    player.volume.setValue(0.5f);
    player.sourceRelative.setValue(&other.loop);  // reads false, but the stored value counts
    ASSERT_TRUE(act(player, {&player.trigger}));
    DKAudioSource* s = player.source();
    ALfloat gain = 0;
    alGetSourcef(s->sourceName(), AL_GAIN, &gain);
    EXPECT_EQ(gain, 0.5f);
    EXPECT_EQ(sourceInt(s, AL_SOURCE_RELATIVE), AL_TRUE);
    ASSERT_TRUE(waitUntil([&] { return sourceInt(s, AL_SAMPLE_OFFSET) > 0; }, 30.0)) << "the sound never played";
    ALint before = sourceInt(s, AL_SAMPLE_OFFSET);
    EXPECT_TRUE(act(player, {&player.trigger}));  // from the start again, same source, queued once
    EXPECT_LT(sourceInt(s, AL_SAMPLE_OFFSET), before);
    EXPECT_EQ(player.source(), s);
    EXPECT_EQ(s->queuedSoundCount(), 1u);
    EXPECT_FALSE(act(player, {&player.stop}));
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
    EXPECT_FALSE(act(player, {&player.trigger}));
    EXPECT_EQ(m.freeCount(), 32u) << "a source without a sound goes back at once";
    std::vector<DKAudioSource*> all;
    while (DKAudioSource* s = m.reserveSource()) all.push_back(s);
    player.sound.setValue(toneSound(1.0));
    EXPECT_FALSE(act(player, {&player.trigger}));
    m.stopSource(all.back());
    EXPECT_TRUE(act(player, {&player.trigger})) << "the next trigger tries again";
}

TEST(SGSoundNodesTest, DestroyedPlayersLetOneShotsFinishStopTheRestAndOutliveTheirManager) {
    auto* m = new SoundManager;
    auto sound = toneSound(0.05);
    DKAudioSource* oneShot = nullptr;
    {
        SGSoundPlayerNode player(m), looping(m), paused(m);
        for (SGSoundPlayerNode* p : {&player, &looping, &paused}) {
            p->sound.setValue(sound);
            p->loop.setValue(p == &looping);
            ASSERT_TRUE(act(*p, {&p->trigger}));
        }
        act(paused, {&paused.pause});
        oneShot = player.source();
    }
    EXPECT_EQ(sourceInt(oneShot, AL_SOURCE_STATE), AL_PLAYING) << "a one-shot sound plays on";
    EXPECT_EQ(m->freeCount(), 31u) << "the looping and the paused sound were stopped";
    ASSERT_TRUE(waitUntil([&] { return oneShot->isStopped(); }, 3.0));
    m->update();  // no callback into the destroyed node
    EXPECT_EQ(m->freeCount(), 32u);

    SGSoundPlayerNode outliving(m);
    outliving.sound.setValue(sound);
    ASSERT_TRUE(act(outliving, {&outliving.trigger}));
    delete m;  // stops the source, which tells the node
    EXPECT_EQ(outliving.source(), nullptr);
    EXPECT_FALSE(act(outliving, {&outliving.trigger}));
}

}  // namespace
