// The source pool, its callbacks, suspend and resume, and the Lua module, on a real (null-output)
// device.
#include <gtest/gtest.h>
#include <lua.hpp>

#include <map>

#include "engine/sound/SoundContext.h"
#include "engine/sound/tests/SoundTestFiles.h"
#include "engine/sound/wrap_SoundManager.h"
#include "port/tests/MusicTestHelpers.h"

using namespace dk;
using namespace dk::test;

namespace {

std::map<DKAudioSource*, int> g_finished;
void countFinished(DKAudioSource* source) {
    ++g_finished[source];
}

class SoundManagerTest : public ::testing::Test {
protected:
    void SetUp() override { g_finished.clear(); }
};

TEST_F(SoundManagerTest, ThirtyTwoSourcesAreLentAndReused) {
    SoundManager m;
    std::vector<DKAudioSource*> lent;
    for (int i = 0; i < 32; ++i) {
        DKAudioSource* s = m.reserveSource();
        ASSERT_NE(s, nullptr) << i;
        lent.push_back(s);
    }
    EXPECT_TRUE(std::is_sorted(lent.begin(), lent.end())) << "the first free source comes first";
    EXPECT_EQ(m.reserveSource(), nullptr);

    lent[7]->finishedCallback = countFinished;
    lent[7]->owner = this;
    m.stopSource(lent[7]);
    EXPECT_EQ(g_finished[lent[7]], 1);
    DKAudioSource* again = m.reserveSource();
    EXPECT_EQ(again, lent[7]);
    // Still the previous holder's until the new one writes its own.
    EXPECT_EQ(again->owner, this);
    EXPECT_EQ(again->finishedCallback, countFinished);
    EXPECT_EQ(m.reserveSource(), nullptr);
}

TEST_F(SoundManagerTest, ReserveResetsPlacementButKeepsGainPitchLooping) {
    SoundManager m;
    DKAudioSource* s = m.reserveSource();
    s->setLocation(10, 20);
    s->setVelocity(1, 2);
    s->setVolume(0.5f);
    s->setPitch(1.5f);
    s->setLooping(true);
    s->setRelative(true);
    m.stopSource(s);
    ASSERT_EQ(m.reserveSource(), s);
    ALfloat v[3];
    for (ALenum p : {AL_POSITION, AL_VELOCITY, AL_DIRECTION}) {
        alGetSource3f(s->sourceName(), p, &v[0], &v[1], &v[2]);
        EXPECT_TRUE(v[0] == 0 && v[1] == 0 && v[2] == 0) << p;
    }
    for (auto [p, want] : {std::pair{AL_ROLLOFF_FACTOR, 1.0f},
                           {AL_REFERENCE_DISTANCE, 50.0f},
                           {AL_GAIN, 0.5f},
                           {AL_PITCH, 1.5f}}) {
        alGetSourcef(s->sourceName(), p, &v[0]);
        EXPECT_EQ(v[0], want) << p;
    }
    for (ALenum p : {AL_LOOPING, AL_SOURCE_RELATIVE}) {
        ALint i = 0;
        alGetSourcei(s->sourceName(), p, &i);
        EXPECT_EQ(i, 1) << p;
    }
}

TEST_F(SoundManagerTest, FinishedSoundsComeBackOnUpdateOncePausedOnesStay) {
    SoundManager m;
    auto sound = toneSound(0.05);
    std::weak_ptr<SGSound> weak = sound;
    DKAudioSource* ends = m.reserveSource();
    DKAudioSource* paused = m.reserveSource();
    DKAudioSource* loops = m.reserveSource();
    for (DKAudioSource* s : {ends, paused, loops}) {
        s->finishedCallback = countFinished;
        s->queueBuffers(sound);
    }
    loops->setLooping(true);
    m.playSource(ends);
    m.playSource(paused);
    m.pauseSource(paused);
    m.playSource(loops);
    sound.reset();  // the queues keep it alive
    ASSERT_FALSE(weak.expired());

    ASSERT_TRUE(waitUntil([&] { return ends->isStopped(); }, 3.0));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    m.update();
    m.update();
    EXPECT_EQ(g_finished[ends], 1);
    EXPECT_EQ(g_finished[paused], 0);
    EXPECT_EQ(g_finished[loops], 0);
    EXPECT_EQ(m.freeCount(), 30u);

    m.stopSource(loops);
    m.stopSource(paused);
    EXPECT_EQ(g_finished[loops], 1);
    EXPECT_EQ(g_finished[paused], 1);
    EXPECT_TRUE(weak.expired()) << "the last queue let the sound go";
    EXPECT_EQ(m.freeCount(), 32u);
}

TEST_F(SoundManagerTest, DeleteCallsBackPlayingSourcesOnly) {
    auto sound = toneSound(1.0);
    DKAudioSource *playing, *reserved;
    {
        SoundManager m;
        playing = m.reserveSource();
        reserved = m.reserveSource();
        playing->finishedCallback = countFinished;
        reserved->finishedCallback = countFinished;
        playing->queueBuffers(sound);
        m.playSource(playing);
    }
    EXPECT_EQ(g_finished[playing], 1);
    EXPECT_EQ(g_finished.count(reserved), 0u);
    EXPECT_EQ(sound.use_count(), 1);
}

TEST_F(SoundManagerTest, ManagersShareOneContextAndSuspendResumeIt) {
    ALCcontext* context;
    {
        SoundManager first;
        context = DKSoundContext();
        ASSERT_NE(context, nullptr);
    }
    SoundManager second;
    EXPECT_EQ(DKSoundContext(), context);
    EXPECT_EQ(alcGetCurrentContext(), context);

    DKAudioSource* s = second.reserveSource();
    s->setLooping(true);
    s->queueBuffers(toneSound(0.05));
    second.playSource(s);
    second.suspend();
    EXPECT_EQ(alcGetCurrentContext(), nullptr);
    // Nothing is taken back or reported while suspended.
    ::testing::internal::CaptureStderr();
    second.update();
    second.makeCurrent();
    second.suspend();
    second.resume();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(alcGetCurrentContext(), context);
    ALint state = 0;
    alGetSourcei(s->sourceName(), AL_SOURCE_STATE, &state);
    EXPECT_EQ(state, AL_PLAYING);
    EXPECT_EQ(second.playingCount(), 1u);
}

TEST_F(SoundManagerTest, SoundsLoadWhileSuspended) {
    SoundManager m;
    m.suspend();
    auto sound = toneSound(0.01);
    m.resume();
    EXPECT_TRUE(alIsBuffer(sound->buffers[0]));
}

// Lua ---------------------------------------------------------------------------------------

class SoundManagerLuaTest : public ::testing::Test {
protected:
    void SetUp() override {
        L = luaL_newstate();
        luaL_openlibs(L);
        lua_pushcfunction(L, luaopen_soundManager);
        lua_pushstring(L, "soundManager");
        lua_call(L, 1, 0);
    }
    void TearDown() override { lua_close(L); }
    std::string run(const char* code) {
        if (luaL_dostring(L, code) == 0) return "";
        std::string e = lua_tostring(L, -1);
        lua_pop(L, 1);
        return e;
    }
    lua_State* L = nullptr;
};

TEST_F(SoundManagerLuaTest, SharedManagerAndDeleteSafety) {
    ASSERT_EQ(run("sharedSoundManager = soundManager.new()\n"
                  "sharedSoundManager:makeCurrent()\n"
                  "soundManager.update(sharedSoundManager)"),
              "");
    SoundManager* m = SoundManager_FromLuaState(L);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->freeCount(), 32u);
    SoundManager_Suspend(m);
    EXPECT_EQ(alcGetCurrentContext(), nullptr);
    SoundManager_Resume(m);
    EXPECT_NE(alcGetCurrentContext(), nullptr);
    // Deleted objects stay harmless to call; the host's suspend and resume then do nothing.
    ASSERT_EQ(run("sharedSoundManager:delete()\n"
                  "sharedSoundManager:delete()\n"
                  "sharedSoundManager:update()\n"
                  "sharedSoundManager:makeCurrent()\n"),
              "");
    EXPECT_EQ(SoundManager_FromLuaState(L), nullptr);
    SoundManager_Suspend(nullptr);
    SoundManager_Resume(nullptr);
    EXPECT_NE(run("soundManager.update(42)").find("SoundManager.MT expected"), std::string::npos);
    ASSERT_EQ(run("sharedSoundManager = 'not a manager'"), "");
    EXPECT_EQ(SoundManager_FromLuaState(L), nullptr);
}

}  // namespace
