#include "player/view/EAGLGameView.h"

#include "engine/sound/wrap_SoundManager.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Application.h"
#include "player/EngineCalls.h"

using namespace plat;

namespace {
foundation::TraceCategory kPause("pause");
}

int UItoDKDeviceOrientation(int orientation) {
    static const int kCodes[] = {6, 2, 3, 0, 1, 4, 5};
    return orientation >= 0 && orientation <= 6 ? kCodes[orientation] : 0;
}

std::shared_ptr<EAGLGameView> EAGLGameView::create(const ui::Rect& frame, DK_State* state) {
    return std::make_shared<EAGLGameView>(frame, state);
}

EAGLGameView::EAGLGameView(const ui::Rect& frame, DK_State* state) : View(frame), m_gameState(state) {
    resetTouches();
    sys::AudioSession::shared().setDelegate(this);
    sys::AudioSession::shared().setCategory(sys::kAudioSessionCategoryAmbient);
}

EAGLGameView::~EAGLGameView() {
    if (sys::AudioSession::shared().delegate() == this) sys::AudioSession::shared().setDelegate(nullptr);
}

void EAGLGameView::resetTouches() {
    if (!m_gameState) return;
    dk::player::engine::touchCancel(m_gameState);
    dk::player::engine::mouseUp(m_gameState, 0, 0);
}

void EAGLGameView::setPlaying(bool playing) {
    setMultipleTouchEnabled(true);
    if (ui::Application* app = ui::Application::shared()) app->setIdleTimerDisabled(playing);
    m_playing = playing;
}

void EAGLGameView::play() {
    if (!m_gameState) return;
    m_pauseCount = m_pauseCount > 0 ? m_pauseCount - 1 : 0;
    foundation::tracef(kPause, "play count=%d", m_pauseCount);
    if (m_pauseCount > 0) return;
    resetTouches();
    startAnimation();
    if (m_hasPlayedFirstFrame) {
        dk::player::engine::play(m_gameState);
        setPlaying(true);
    } else {
        setPlaying(true);
        dk::player::engine::play(m_gameState);
        m_hasPlayedFirstFrame = true;
    }
    resetTouches();
}

void EAGLGameView::pauseInitiatedBySystem(bool system) {
    ++m_pauseCount;
    foundation::log("Game paused by system.  Count:  %d", m_pauseCount);
    foundation::tracef(kPause, "%s count=%d", system ? "system" : "behavior", m_pauseCount);
    if (!m_playing) return;
    setPlaying(false);
    stopAnimation();
    if (system)
        dk::player::engine::systemInitiatedPause(m_gameState);
    else
        dk::player::engine::behaviorInitiatedPause(m_gameState);
}

void EAGLGameView::stop() {
    if (!m_playing) return;
    setPlaying(false);
    stopAnimation();
    dk::player::engine::stop(m_gameState);
    m_hasPlayedFirstFrame = false;
}

void EAGLGameView::startAnimation() {
    if (m_loading) {
        dk::player::engine::update(m_gameState, 0);
        foundation::RunLoop::current().runFor(0.25);
        setUserInteractionEnabled(true);
        resetTouches();
    }
    m_animating = true;
}

void EAGLGameView::beginInterruption() {
    m_soundInterrupted = true;
    pauseInitiatedBySystem(true);
    if (auto* manager = SoundManager_FromLuaState(m_gameState->L)) SoundManager_Suspend(manager);
    std::string error;
    if (!sys::AudioSession::shared().setActive(false, &error))
        foundation::log("error deactivating audio session: %s", error.c_str());
}

void EAGLGameView::endInterruption() {
    std::string error;
    if (!sys::AudioSession::shared().setCategory(sys::kAudioSessionCategoryAmbient, &error))
        foundation::log("Error resuming audio, %s", error.c_str());
    if (!sys::AudioSession::shared().setActive(true, &error)) foundation::log("Error resuming audio, %s", error.c_str());
    if (auto* manager = SoundManager_FromLuaState(m_gameState->L)) SoundManager_Resume(manager);
    play();
    m_soundInterrupted = false;
}
