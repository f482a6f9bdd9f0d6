// The listener and player nodes over the source pool, on a real (null-output) device.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/sound/SGSoundNodes.h"
#include "engine/sound/tests/SoundTestFiles.h"

using namespace dk;
using namespace dk::test;

namespace {

class SGSoundNodesTest : public ::testing::Test {
protected:
    static std::shared_ptr<SGSound> tone(double seconds) { return toneSound(seconds); }
    static ALint sourceInt(DKAudioSource* s, ALenum what) {
        ALint v = -1;
        alGetSourcei(s->sourceName(), what, &v);
        return v;
    }
    // Reads "playing" as a consumer would, which computes the node when it is dirty.
    static bool readPlaying(SGSoundPlayerNode& node) {
        node.dirty = true;
        return node.playing.boolValue();
    }
};

TEST_F(SGSoundNodesTest, ListenerIsPlacedFromItsPorts) {
    SoundManager m;
    SGSoundListenerNode listener;
    listener.x.setValue(10.0f);
    listener.gain.setValue(0.25f);
    listener.compute();
    ALfloat p[3], gain = 0;
    alGetListener3f(AL_POSITION, &p[0], &p[1], &p[2]);
    alGetListenerf(AL_GAIN, &gain);
    EXPECT_EQ((std::vector<float>{p[0], p[1], p[2], gain}), (std::vector<float>{10, 160, -50, 0.25f}));
}

TEST_F(SGSoundNodesTest, TriggerPlaysRestartsAndStopGivesTheSourceBack) {
    SoundManager m;
    SGSoundPlayerNode player(&m);
    player.sound.setValue(tone(1.0));
    player.x.setValue(3.0f);
    player.volume.setValue(0.5f);
    player.trigger.setValue(true);
    ASSERT_TRUE(readPlaying(player));
    DKAudioSource* s = player.source;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(sourceInt(s, AL_SOURCE_STATE), AL_PLAYING);
    EXPECT_EQ(sourceInt(s, AL_SOURCE_RELATIVE), AL_TRUE);
    ALfloat pos[3], gain = 0;
    alGetSource3f(s->sourceName(), AL_POSITION, &pos[0], &pos[1], &pos[2]);
    alGetSourcef(s->sourceName(), AL_GAIN, &gain);
    EXPECT_EQ(pos[0], 3);
    EXPECT_EQ(gain, 0.5f);

    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ALint before = sourceInt(s, AL_SAMPLE_OFFSET);
    EXPECT_TRUE(readPlaying(player));  // trigger still true: from the start again, same source
    EXPECT_EQ(player.source, s);
    EXPECT_LT(sourceInt(s, AL_SAMPLE_OFFSET), before);
    EXPECT_EQ(s->queuedSoundCount(), 1u) << "queued once per lent source";

    player.trigger.setValue(false);
    player.stop.setValue(true);
    EXPECT_FALSE(readPlaying(player));
    EXPECT_EQ(player.source, nullptr);
    EXPECT_EQ(m.freeCount(), 32u);
}

TEST_F(SGSoundNodesTest, RelativeFlagComesFromTheStoredValueOnly) {
    SoundManager m;
    SGSoundPlayerNode player(&m);
    SGSoundPlayerNode other(&m);  // its "loop" holds false
    player.sound.setValue(tone(1.0));
    player.sourceRelative.setValue(&other.loop);
    player.trigger.setValue(true);
    ASSERT_TRUE(readPlaying(player));
    EXPECT_EQ(sourceInt(player.source, AL_SOURCE_RELATIVE), AL_TRUE);
    player.trigger.setValue(false);
    player.stop.setValue(true);
    readPlaying(player);
    player.stop.setValue(false);
    player.trigger.setValue(true);
    player.sourceRelative.disconnect();
    player.sourceRelative.setValue(false);
    ASSERT_TRUE(readPlaying(player));
    EXPECT_EQ(sourceInt(player.source, AL_SOURCE_RELATIVE), AL_FALSE);
}

TEST_F(SGSoundNodesTest, NoUsableSoundOrNoFreeSourceLeavesThePoolAsItWas) {
    SoundManager m;
    SGSoundPlayerNode player(&m);
    player.trigger.setValue(true);
    EXPECT_FALSE(readPlaying(player));
    player.sound.setValue(std::make_shared<SGSound>());  // decoded nothing: no buffers
    EXPECT_FALSE(readPlaying(player));
    EXPECT_EQ(m.freeCount(), 32u) << "a source without a sound goes back at once";

    std::vector<DKAudioSource*> all;
    while (DKAudioSource* s = m.reserveSource()) all.push_back(s);
    player.sound.setValue(tone(1.0));
    EXPECT_FALSE(readPlaying(player));
    m.stopSource(all.back());
    EXPECT_TRUE(readPlaying(player)) << "the next trigger tries again";
    for (size_t i = 0; i + 1 < all.size(); ++i) m.stopSource(all[i]);
}

TEST_F(SGSoundNodesTest, DestroyedPlayersLetOneShotsFinishAndStopLoops) {
    SoundManager m;
    auto sound = tone(0.05);
    DKAudioSource* oneShot = nullptr;
    {
        SGSoundPlayerNode player(&m);
        player.sound.setValue(sound);
        player.trigger.setValue(true);
        ASSERT_TRUE(readPlaying(player));
        oneShot = player.source;
    }
    EXPECT_EQ(oneShot->finishedCallback, nullptr);
    EXPECT_EQ(sourceInt(oneShot, AL_SOURCE_STATE), AL_PLAYING) << "a one-shot sound plays on";
    {
        SGSoundPlayerNode looping(&m);
        looping.sound.setValue(sound);
        looping.loop.setValue(true);
        looping.trigger.setValue(true);
        ASSERT_TRUE(readPlaying(looping));
        SGSoundPlayerNode paused(&m);
        paused.sound.setValue(sound);
        paused.trigger.setValue(true);
        ASSERT_TRUE(readPlaying(paused));
        paused.trigger.setValue(false);
        paused.pause.setValue(true);
        readPlaying(paused);
    }
    EXPECT_EQ(m.freeCount(), 31u) << "the looping and the paused sound were stopped";
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m.update();
    EXPECT_EQ(m.freeCount(), 32u);
}

TEST_F(SGSoundNodesTest, APlayerOutlivingItsManagerIsHarmless) {
    auto* m = new SoundManager;
    SGSoundPlayerNode player(m);
    player.sound.setValue(tone(1.0));
    player.trigger.setValue(true);
    ASSERT_TRUE(readPlaying(player));
    delete m;  // stops the source, which tells the node
    EXPECT_EQ(player.source, nullptr);
    EXPECT_FALSE(readPlaying(player));
}

}  // namespace
