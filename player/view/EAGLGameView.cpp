#include "player/view/EAGLGameView.h"

#include <GLES2/gl2.h>

#include <algorithm>

#include "engine/sound/wrap_SoundManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "player/EngineCalls.h"
#include "player/view/GameClock.h"
#include "scenegraph/IRenderManager.h"
#include "scenegraph/es2/SGRenderManagerES2.h"

namespace dk::player {

plat::foundation::TraceCategory& pauseTrace() {
    static plat::foundation::TraceCategory category("pause");
    return category;
}

}  // namespace dk::player

namespace engine = dk::player::engine;
using plat::foundation::log;
using plat::foundation::tracef;

int UItoDKDeviceOrientation(int orientation) {
    static constexpr int kEngineOrientations[] = {6, 2, 3, 0, 1, 4, 5};
    return orientation >= 0 && orientation <= 6 ? kEngineOrientations[orientation] : 0;
}

EAGLGameView::EAGLGameView(Key key, const plat::ui::Rect& frame, DK_State* state)
    : EAGLView(key, frame), m_gameState(state) {}

EAGLGameView::~EAGLGameView() {
    setPlaying(false);
    plat::sys::Device::current().endGeneratingDeviceOrientationNotifications();
    plat::sys::AudioSession& session = plat::sys::AudioSession::shared();
    if (session.delegate() == this) session.setDelegate(nullptr);
}

std::shared_ptr<EAGLGameView> EAGLGameView::create(const plat::ui::Rect& frame, DK_State* state) {
    // Scenes made from now on draw with the ES2 renderer, which needs no context to be chosen.
    DKShouldUseGLES2 = true;
    SGRenderManagerES2::install();
    dk::player::useProcessClockForGameTime();

    auto view = std::make_shared<EAGLGameView>(Key{}, frame, state);
    std::string error;
    if (!view->initView(&error)) {
        log("EAGLView: could not create an OpenGL ES 2.0 context: %s", error.c_str());
        return nullptr;
    }
    view->resetTouches();
    plat::sys::AudioSession& session = plat::sys::AudioSession::shared();
    session.setDelegate(view.get());
    session.setCategory(plat::sys::kAudioSessionCategoryAmbient);
    plat::sys::Device::current().beginGeneratingDeviceOrientationNotifications();
    view->m_pauseCount = 0;
    const plat::foundation::Bundle* bundle = plat::foundation::Bundle::main();
    const plat::foundation::Value* overscan = bundle ? bundle->infoValue("DKOverscan") : nullptr;
    view->m_shouldCropGameView = overscan && overscan->boolValue();
    return view;
}

void EAGLGameView::setPlaying(bool playing) {
    setMultipleTouchEnabled(true);
    plat::sys::Accelerometer& accelerometer = plat::sys::Accelerometer::shared();
    if (playing)
        accelerometer.setDelegate(this);
    else if (accelerometer.delegate() == this)
        accelerometer.setDelegate(nullptr);
    if (plat::ui::Application* app = plat::ui::Application::shared()) app->setIdleTimerDisabled(playing);
    m_playing = playing;
}

void EAGLGameView::play() {
    if (!m_gameState) return;
    m_pauseCount = std::max(m_pauseCount - 1, 0);
    tracef(dk::player::pauseTrace(), "play count=%d", m_pauseCount);
    if (m_pauseCount > 0) return;
    m_holdingStart = false;
    resetTouches();
    resetTimebase();
    startAnimation();
    if (m_hasPlayedFirstFrame) {
        engine::play(m_gameState);
        setPlaying(true);
    } else {
        playFirstFrame();
    }
    resetTouches();
}

void EAGLGameView::playFirstFrame() {
    setPlaying(true);
    engine::play(m_gameState);
    setupRenderView();
    drawView();
    m_hasPlayedFirstFrame = true;
}

void EAGLGameView::pauseInitiatedBySystem(bool system) {
    ++m_pauseCount;
    log("Game paused by system.  Count:  %d", m_pauseCount);
    tracef(dk::player::pauseTrace(), "%s count=%d", system ? "system" : "behavior", m_pauseCount);
    if (!m_playing) return;
    setPlaying(false);
    stopAnimation();
    if (system)
        engine::systemInitiatedPause(m_gameState);
    else
        engine::behaviorInitiatedPause(m_gameState);
}

void EAGLGameView::stop() {
    if (!m_playing) return;
    setPlaying(false);
    stopAnimation();
    engine::stop(m_gameState);
    m_hasPlayedFirstFrame = false;
}

void EAGLGameView::resetTimebase() {
    m_currentTime = dk::player::frameClockSeconds();
}

void EAGLGameView::startAnimation() {
    if (m_loading && !m_loadEndRun && m_gameState) {
        m_loadEndRun = true;
        // The run loop turns below: the view stays for it.
        std::shared_ptr<View> keep = shared_from_this();
        const double now = dk::player::frameClockSeconds();
        const double dt = now - m_currentTime;
        m_currentTime = now;
        engine::update(m_gameState, dt);
        plat::foundation::RunLoop& loop = plat::foundation::RunLoop::current();
        // A stop that ends this turn was meant for a run outside it (a quit): pass it on.
        if (loop.runFor(kLoadEndTurn) == plat::foundation::RunLoop::RunResult::Stopped) loop.stop();
        setUserInteractionEnabled(true);
        resetTouches();
    }
    // A load that ends while the game is paused leaves the clock stopped: the play that ends the
    // pause starts it. Asked after the load's turn too: a load nested in that turn has ended its
    // own, so the outer one comes here without running its step.
    if (m_pauseCount > (m_holdingStart ? 1 : 0)) return;
    EAGLView::startAnimation();
}

bool EAGLGameView::drawFrame() {
    if (m_frameLock) return false;
    m_frameLock = true;
    const bool playing = m_playing;
    if (playing) {
        m_loading = false;
        if (m_accelerometerUpdated) {
            m_accelerometerUpdated = false;
            engine::accelerated(m_gameState, m_accelerometerX, m_accelerometerY, m_accelerometerZ);
        }
        const double now = dk::player::frameClockSeconds();
        const double dt = now - m_currentTime;
        m_currentTime = now;
        engine::update(m_gameState, dt);
    }
    m_frameLock = false;
    return playing;
}

void EAGLGameView::prepareOpenGL() {
    SGRenderManagerES2_setUpGL();
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    int gameWidth = 0, gameHeight = 0;
    if (m_gameState) engine::getIntendedDisplaySize(m_gameState, &gameWidth, &gameHeight);
    m_viewport =
        dk::player::fitGameViewport(backingWidth(), backingHeight(), gameWidth, gameHeight, m_shouldCropGameView);
    const int x = static_cast<int>(m_viewport.x), y = static_cast<int>(m_viewport.y);
    const int w = static_cast<int>(m_viewport.width), h = static_cast<int>(m_viewport.height);
    glViewport(x, y, w, h);
    tracef(dk::player::glTrace(), "viewport %d %d %d %d", x, y, w, h);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
}

// Touches. A slot holds its touch from down to up; the engine numbers slots 1 to 11.

void EAGLGameView::resetTouches() {
    m_allTouches.fill(TouchSlot{});
    if (!m_gameState) return;
    engine::touchCancel(m_gameState);
    engine::mouseUp(m_gameState, 0, 0);
}

int EAGLGameView::touchCount() const {
    return static_cast<int>(
        std::count_if(m_allTouches.begin(), m_allTouches.end(), [](const TouchSlot& slot) { return slot.held; }));
}

int EAGLGameView::freeSlot() const {
    for (int i = 0; i < kTouchSlots; ++i)
        if (!m_allTouches[i].held) return i;
    return -1;
}

int EAGLGameView::slotOf(const std::shared_ptr<plat::ui::Touch>& touch) const {
    for (int i = 0; i < kTouchSlots; ++i) {
        const TouchSlot& slot = m_allTouches[i];
        if (slot.held && !slot.touch.owner_before(touch) && !touch.owner_before(slot.touch)) return i;
    }
    return -1;
}

dk::player::GamePoint EAGLGameView::convertPointFromScaledSpace(plat::ui::Point point) const {
    return dk::player::mapToGame(point.x, point.y, contentScaleFactor(), m_viewport);
}

void EAGLGameView::touchesBegan(const plat::ui::TouchSet& touches, const plat::ui::Event&) {
    for (const std::shared_ptr<plat::ui::Touch>& touch : touches) {
        // Checked for each touch: one of them may start a scene load.
        if (!m_playing || m_loading) return;
        const int slot = freeSlot();
        if (slot < 0) continue;  // no slot: ignored for its whole life
        m_allTouches[slot] = {touch, true};
        const dk::player::GamePoint p = convertPointFromScaledSpace(touch->locationInView(this));
        engine::touchDown(m_gameState, p.x, p.y, slot + 1, touchCount());
    }
}

void EAGLGameView::touchesMoved(const plat::ui::TouchSet& touches, const plat::ui::Event&) {
    for (const std::shared_ptr<plat::ui::Touch>& touch : touches) {
        if (!m_playing || m_loading) return;
        const int slot = slotOf(touch);
        if (slot < 0) continue;
        const dk::player::GamePoint p = convertPointFromScaledSpace(touch->locationInView(this));
        engine::touchMoved(m_gameState, p.x, p.y, slot + 1);
    }
}

void EAGLGameView::touchesEnded(const plat::ui::TouchSet& touches, const plat::ui::Event&) {
    touchEnded(touches);
}

void EAGLGameView::touchesCancelled(const plat::ui::TouchSet& touches, const plat::ui::Event&) {
    touchEnded(touches);
}

void EAGLGameView::touchEnded(const plat::ui::TouchSet& touches) {
    for (const std::shared_ptr<plat::ui::Touch>& touch : touches) {
        if (!m_playing || m_loading) return;
        const int slot = slotOf(touch);
        if (slot < 0) continue;
        m_allTouches[slot] = TouchSlot{};
        const dk::player::GamePoint p = convertPointFromScaledSpace(touch->locationInView(this));
        engine::touchUp(m_gameState, p.x, p.y, slot + 1, touchCount());
    }
}

void EAGLGameView::didAccelerate(plat::sys::Accelerometer&, const plat::sys::Acceleration& a) {
    m_accelerometerUpdated = true;
    m_accelerometerX = static_cast<float>(a.x);
    m_accelerometerY = static_cast<float>(a.y);
    m_accelerometerZ = static_cast<float>(a.z);
}

// Audio interruptions. The script may keep no sound manager: the pause and the play still happen.

void EAGLGameView::beginInterruption() {
    m_soundInterrupted = true;
    pauseInitiatedBySystem(true);
    if (m_gameState) SoundManager_Suspend(SoundManager_FromLuaState(m_gameState->L));
    std::string error;
    if (!plat::sys::AudioSession::shared().setActive(false, &error))
        log("error deactivating audio session: %s", error.c_str());
}

void EAGLGameView::endInterruption() {
    plat::sys::AudioSession& session = plat::sys::AudioSession::shared();
    std::string error;
    if (!session.setCategory(plat::sys::kAudioSessionCategoryAmbient, &error))
        log("Error resuming audio, %s", error.c_str());
    if (!session.setActive(true, &error)) log("Error resuming audio, %s", error.c_str());
    if (m_gameState) SoundManager_Resume(SoundManager_FromLuaState(m_gameState->L));
    play();
    m_soundInterrupted = false;
}

void EAGLGameView::configureContentScaleFactor() {
    setContentScaleFactor(plat::sys::Screen::main().scale());
}

void EAGLGameView::changeToScene(const std::string& sceneName) {
    engine::setShouldChangeToScene(m_gameState, sceneName.c_str());
    if (!m_playing) play();
}
