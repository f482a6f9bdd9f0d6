// The source pool, its callbacks, suspend and resume, and the Lua module, on a real (null-output)
// device.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <utility>

#include "engine/sound/SoundContext.h"
#include "engine/sound/SoundManager.h"
#include "engine/sound/tests/SoundTestSupport.h"
#include "engine/sound/wrap_SoundManager.h"

using dk::sound::SoundManager;
using namespace dktest;

namespace {

std::map<DKAudioSource*, int> g_finished;

DKAudioSource* reserveCounted(SoundManager& m, const std::shared_ptr<SGSound>& sound, void* owner = nullptr) {
    DKAudioSource* s = m.reserveSource();
    s->setOwner(owner, [](DKAudioSource* source) { ++g_finished[source]; });
    s->queueBuffers(sound);
    return s;
}

TEST(SoundManagerTest, ThirtyTwoSourcesAreLentAndReusedWithTheirPlacementReset) {
    SoundManager m;
    std::vector<DKAudioSource*> lent;
    while (lent.size() < 7) lent.push_back(m.reserveSource());
    DKAudioSource* s = reserveCounted(m, nullptr, &m);
    while (DKAudioSource* more = m.reserveSource()) lent.push_back(more);
    EXPECT_EQ(lent.size(), 31u);
    EXPECT_TRUE(std::is_sorted(lent.begin(), lent.end())) << "the first free source comes first";
    s->setLocation(10, 20);
    s->setVolume(0.5f);
    m.stopSource(s);
    EXPECT_EQ(g_finished[s], 1);
    // Lent again, still the previous holder's until the new one writes its own; placed anew.
    ASSERT_EQ(m.reserveSource(), s);
    EXPECT_EQ(s->owner(), &m);
    ALfloat at[4] = {1, 1, 1, 0};
    alGetSourcefv(s->sourceName(), AL_POSITION, at);
    alGetSourcef(s->sourceName(), AL_GAIN, &at[3]);
    EXPECT_EQ((std::vector<float>{at, at + 4}), (std::vector<float>{0, 0, 0, 0.5f}));
}

TEST(SoundManagerTest, FinishedSoundsComeBackOnUpdateOnceOthersWhenStoppedOrDeleted) {
    g_finished.clear();
    auto sound = toneSound(0.05);
    std::weak_ptr<SGSound> weak = sound;
    DKAudioSource *ends, *paused, *loops;
    {
        SoundManager m;
        ends = reserveCounted(m, sound), paused = reserveCounted(m, sound), loops = reserveCounted(m, sound);
        reserveCounted(m, nullptr);  // lent, never played
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

// A holder told that its sound finished may delete the manager that tells it: the update under
// way goes no further, and the other holders hear of their sources once, from the manager's end.
TEST(SoundManagerTest, AFinishedCallbackMayDeleteTheUpdatingManager) {
    g_finished.clear();
    auto sound = toneSound(0.01);
    auto* m = new SoundManager;
    std::vector<DKAudioSource*> ended;
    for (int i = 0; i < 3; ++i) {
        DKAudioSource* s = m->reserveSource();
        s->setOwner(&m, [](DKAudioSource* source) {
            ++g_finished[source];
            delete std::exchange(*static_cast<SoundManager**>(source->owner()), nullptr);
        });
        s->queueBuffers(sound);
        m->playSource(s);
        ended.push_back(s);
    }
    ASSERT_TRUE(waitUntil(
        [&] { return std::all_of(ended.begin(), ended.end(), std::mem_fn(&DKAudioSource::isStopped)); },
        3.0));
    m->update();
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(g_finished.size(), 3u);
    for (DKAudioSource* s : ended) EXPECT_EQ(g_finished[s], 1);
}

TEST(SoundManagerTest, ManagersShareOneContextAndSuspendResumeIt) {
    ALCcontext* context;
    {
        SoundManager first;
        context = DKSoundContext();
    }
    SoundManager second;
    ASSERT_NE(context, nullptr);
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
    EXPECT_FALSE(s->isStopped());
    EXPECT_EQ(second.playingCount(), 1u);
}

// Using a manager after delete is in the CLI tests; a second delete, and a value that is not one.
TEST(SoundManagerLuaTest, SharedManagerAndDeleteSafety) {
    LuaState L(luaopen_soundManager, "soundManager");
    ASSERT_EQ(L.run("sharedSoundManager = soundManager.new()"), "");
    ASSERT_NE(SoundManager_FromLuaState(L), nullptr);
    ASSERT_EQ(L.run("sharedSoundManager:delete() sharedSoundManager:delete()"), "");
    EXPECT_EQ(SoundManager_FromLuaState(L), nullptr);
    SoundManager_Suspend(nullptr);  // the host's calls do nothing then
    SoundManager_Resume(nullptr);
    EXPECT_NE(L.run("soundManager.update(42)").find("SoundManager.MT expected"), std::string::npos);
    ASSERT_EQ(L.run("sharedSoundManager = 'not a manager'"), "");
    EXPECT_EQ(SoundManager_FromLuaState(L), nullptr);
}

}  // namespace
