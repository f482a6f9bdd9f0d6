// The source pool, its callbacks, suspend and resume, and the Lua module, on a real (null-output)
// device.
#include <gtest/gtest.h>

#include <map>

#include "engine/sound/SoundContext.h"
#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestSupport.h"
#include "engine/sound/wrap_SoundManager.h"

using dk::sound::SoundManager;
using namespace dktest;

namespace {

std::map<DKAudioSource*, int> g_finished;

DKAudioSource* reserveCounted(SoundManager& m, const std::shared_ptr<SGSound>& sound = nullptr) {
    DKAudioSource* s = m.reserveSource();
    s->setOwner(nullptr, [](DKAudioSource* source) { ++g_finished[source]; });
    s->queueBuffers(sound);
    return s;
}

class SoundManagerTest : public ::testing::Test {
protected:
    void SetUp() override { g_finished.clear(); }
};

TEST_F(SoundManagerTest, ThirtyTwoSourcesAreLentAndReusedWithTheirPlacementReset) {
    SoundManager m;
    std::vector<DKAudioSource*> lent;
    while (DKAudioSource* s = m.reserveSource()) lent.push_back(s);
    ASSERT_EQ(lent.size(), 32u);
    EXPECT_TRUE(std::is_sorted(lent.begin(), lent.end())) << "the first free source comes first";
    DKAudioSource* s = lent[7];
    s->setOwner(this, [](DKAudioSource* source) { ++g_finished[source]; });
    s->setLocation(10, 20);
    s->setVolume(0.5f);
    m.stopSource(s);
    EXPECT_EQ(g_finished[s], 1);
    // Lent again, still the previous holder's until the new one writes its own.
    ASSERT_EQ(m.reserveSource(), s);
    EXPECT_EQ(s->owner(), this);
    ALfloat position[3] = {1, 1, 1}, gain = 0;
    alGetSourcefv(s->sourceName(), AL_POSITION, position);
    alGetSourcef(s->sourceName(), AL_GAIN, &gain);
    EXPECT_EQ((std::vector<float>{position[0], position[1], gain}), (std::vector<float>{0, 0, 0.5f}));
}

TEST_F(SoundManagerTest, FinishedSoundsComeBackOnUpdateOnceOthersWhenStoppedOrDeleted) {
    auto sound = toneSound(0.05);
    std::weak_ptr<SGSound> weak = sound;
    DKAudioSource *ends, *paused, *loops;
    {
        SoundManager m;
        ends = reserveCounted(m, sound), paused = reserveCounted(m, sound), loops = reserveCounted(m, sound);
        reserveCounted(m);  // lent, never played
        loops->setLooping(true);
        for (DKAudioSource* s : {ends, paused, loops}) m.playSource(s);
        m.pauseSource(paused);
        sound.reset();  // the queues keep it alive
        ASSERT_TRUE(waitUntil([&] { return ends->isStopped(); }, 3.0));
        m.update();
        m.update();
        EXPECT_EQ(g_finished, (std::map<DKAudioSource*, int>{{ends, 1}}));
        EXPECT_EQ(m.freeCount(), 29u);
        m.stopSource(loops);
        ASSERT_FALSE(weak.expired());
    }
    // The manager's end stops what plays (the paused one), not what is only lent.
    EXPECT_EQ(g_finished, (std::map<DKAudioSource*, int>{{ends, 1}, {loops, 1}, {paused, 1}}));
    EXPECT_TRUE(weak.expired()) << "the last queue let the sound go";
}

TEST_F(SoundManagerTest, ManagersShareOneContextAndSuspendResumeIt) {
    ALCcontext* context;
    {
        SoundManager first;
        context = DKSoundContext();
        ASSERT_NE(context, nullptr);
    }
    SoundManager second;
    EXPECT_EQ(alcGetCurrentContext(), context);
    DKAudioSource* s = second.reserveSource();
    s->setLooping(true);
    s->queueBuffers(toneSound(0.05));
    second.playSource(s);
    second.suspend();
    EXPECT_EQ(alcGetCurrentContext(), nullptr);
    auto loaded = toneSound(0.01);  // sounds load while suspended
    // Nothing is taken back or reported while suspended.
    ::testing::internal::CaptureStderr();
    second.update();
    second.makeCurrent();
    second.suspend();
    second.resume();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(alcGetCurrentContext(), context);
    EXPECT_TRUE(loaded && alIsBuffer(loaded->buffers()[0]));
    ALint state = 0;
    alGetSourcei(s->sourceName(), AL_SOURCE_STATE, &state);
    EXPECT_EQ(state, AL_PLAYING);
    EXPECT_EQ(second.playingCount(), 1u);
}

TEST(SoundManagerLuaTest, SharedManagerAndDeleteSafety) {
    LuaState L(luaopen_soundManager, "soundManager");
    ASSERT_EQ(L.run("sharedSoundManager = soundManager.new()\n"
                    "sharedSoundManager:makeCurrent()\n"
                    "soundManager.update(sharedSoundManager)"),
              "");
    ASSERT_NE(SoundManager_FromLuaState(L), nullptr);
    // Deleted objects stay harmless to call; the host's suspend and resume then do nothing (the
    // CLI tests drive them on a live manager).
    ASSERT_EQ(L.run("sharedSoundManager:delete()\n"
                    "sharedSoundManager:delete()\n"
                    "sharedSoundManager:update()\n"
                    "sharedSoundManager:makeCurrent()\n"),
              "");
    EXPECT_EQ(SoundManager_FromLuaState(L), nullptr);
    SoundManager_Suspend(nullptr);
    SoundManager_Resume(nullptr);
    EXPECT_NE(L.run("soundManager.update(42)").find("SoundManager.MT expected"), std::string::npos);
    ASSERT_EQ(L.run("sharedSoundManager = 'not a manager'"), "");
    EXPECT_EQ(SoundManager_FromLuaState(L), nullptr);
}

}  // namespace
