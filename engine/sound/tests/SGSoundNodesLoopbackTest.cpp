// What a sound player makes heard, rendered through OpenAL Soft's loopback device: its controls
// act in the order pause, resume, stop, trigger within one computation.
#include <gtest/gtest.h>

#include "engine/sound/SGSoundNodes.h"
#include "engine/sound/tests/SoundTestFiles.h"
#include "port/DKAudioDevice.h"

using namespace dk;
using namespace dk::test;

namespace {

constexpr int kRate = 44100;

int peak(int frames) {
    std::vector<int16_t> out(frames);
    DKAudioDevice::renderSamples(out.data(), frames);
    int p = 0;
    for (int16_t v : out) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
}

// Loud when the player is heard; the first block after a change may still hold a fade.
bool heard() {
    peak(1024);
    return peak(2048) > 2000;
}

void compute(SGSoundPlayerNode& node, std::initializer_list<SGBooleanPort*> on) {
    for (SGBooleanPort* p : {&node.trigger, &node.pause, &node.resume, &node.stop}) p->setValue(false);
    for (SGBooleanPort* p : on) p->setValue(true);
    node.compute();
}

TEST(SGSoundNodesLoopback, ControlsActInThePlayersOrder) {
    ASSERT_TRUE(DKAudioDevice::useLoopback(kRate, 1));
    auto sound = toneSound(1.0);
    ASSERT_TRUE(sound);

    SoundManager m;
    SGSoundListenerNode listener;
    listener.compute();
    EXPECT_FALSE(heard());
    {
        SGSoundPlayerNode player(&m);
        player.sound.setValue(sound);
        player.loop.setValue(true);
        compute(player, {&player.trigger});
        EXPECT_TRUE(heard());
        compute(player, {&player.pause});
        EXPECT_FALSE(heard());
        compute(player, {&player.pause, &player.resume});  // resume comes after pause
        EXPECT_TRUE(heard());
        compute(player, {&player.stop});
        EXPECT_FALSE(heard());
        EXPECT_FALSE(player.playing.value);
        compute(player, {&player.stop, &player.trigger});  // stop, then a new start
        EXPECT_TRUE(heard());
        listener.gain.setValue(0.0f);
        listener.compute();
        EXPECT_FALSE(heard()) << "the listener's gain is the master gain";
        listener.gain.setValue(1.0f);
        listener.compute();
        EXPECT_TRUE(heard());
    }
    EXPECT_FALSE(heard()) << "a destroyed looping player falls silent";
    EXPECT_EQ(m.freeCount(), 32u);
}

}  // namespace
