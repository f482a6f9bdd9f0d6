// The game view: binds one engine state to the frame clock. Each frame hands the engine the
// latest accelerometer sample and the time since the last frame; touches reach it through 11
// slots, mapped back through the viewport that letterboxes (or, with "DKOverscan", crops) the
// game's intended size into the frame buffer; pauses nest through a counter; audio
// interruptions pause and suspend the script's sound manager. The game view controller owns the
// state and drives play, pause, stop and the scene-loading hooks.
//
// DKShouldUseGLES2 and the ES2 renderer are set before its context exists; SGRenderManagerES2_setUpGL
// and the viewport run at every rebuild ("gl viewport x y w h"). Touch slots hold their touches weakly
// (a touch holds its view); accelerometer samples are coalesced to the latest per frame; pauses are
// traced "pause system|behavior|play count=<n>"; an interruption without a sharedSoundManager still
// pauses and plays. A scene load's end (startAnimation while loading) runs one DK_Update and a 0.25 s
// turn of the run loop; a stop that ends that turn (a quit) is passed on to the run outside it.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "engine/DKEngine.h"
#include "platform/sys/Accelerometer.h"
#include "platform/sys/AudioSession.h"
#include "player/view/EAGLView.h"
#include "player/view/GameViewport.h"

namespace dk::player {
plat::foundation::TraceCategory& pauseTrace();
}

// An interface (or device) orientation 0-6 as the engine numbers them: 6, 2, 3, 0, 1, 4, 5; any
// other value 0.
int UItoDKDeviceOrientation(int orientation);

class EAGLGameView : public EAGLView, public plat::sys::AccelerometerDelegate, public plat::sys::AudioSessionDelegate {
public:
    static constexpr int kTouchSlots = 11;
    // The time the view lets the run loop turn at the end of a scene load.
    static constexpr double kLoadEndTurn = 0.25;

    EAGLGameView(Key, const plat::ui::Rect& frame, DK_State* state);
    ~EAGLGameView() override;

    // Sets DKShouldUseGLES2 (and installs the ES2 renderer) before the context exists, then makes
    // the view; clears the touch slots (the script gets touchCancel and mouseUp(0, 0)), becomes the
    // audio session's delegate (category Ambient), starts device-orientation notifications and
    // reads "DKOverscan". Null, logged, when no context can be made current. `state` is not owned.
    static std::shared_ptr<EAGLGameView> create(const plat::ui::Rect& frame, DK_State* state);

    const char* className() const override { return "EAGLGameView"; }

    DK_State* gameState() const { return m_gameState; }
    bool playing() const { return m_playing; }
    void setPlaying(bool playing);
    // Set by the controller when a scene load starts; cleared by the first frame drawn afterwards.
    bool loading() const { return m_loading; }
    void setLoading(bool loading) {
        m_loading = loading;
        if (loading) m_loadEndRun = false;
    }
    bool hasPlayedFirstFrame() const { return m_hasPlayedFirstFrame; }
    bool shouldCropGameView() const { return m_shouldCropGameView; }
    void setShouldCropGameView(bool crop) { m_shouldCropGameView = crop; }
    const std::string& saveFilePath() const { return m_saveFilePath; }
    void setSaveFilePath(std::string path) { m_saveFilePath = std::move(path); }
    int pauseCount() const { return m_pauseCount; }
    // One pause, untraced, that the play starting the game releases: pauses and plays that plugins
    // make while the game loads then nest inside it instead of starting the game early. It alone
    // does not keep a load's end from starting the frame clock.
    void holdUntilStarted() {
        ++m_pauseCount;
        m_holdingStart = true;
    }
    const dk::player::GameViewport& viewport() const { return m_viewport; }

    // Releases one pause; at 0 the game resumes (a first frame after creation or a stop). Traced
    // "pause play count=<n>".
    void play();
    // Counts a pause of either kind ("Game paused by system.  Count:  <n>" on standard error,
    // traced "pause system|behavior count=<n>"); while playing also stops the clock and tells
    // the engine which kind.
    void pauseInitiatedBySystem(bool system);
    // While playing: stops the clock and the engine; the next play is a first frame again.
    void stop();
    void playFirstFrame();
    void resetTimebase();

    // A scene load's end (loading set): one engine step, a 0.25 s turn of the run loop,
    // interaction back, slots cleared; then the clock starts.
    void startAnimation() override;
    bool drawFrame() override;
    // The renderer's GL state, blending, and the viewport for the buffer and the intended size.
    void prepareOpenGL() override;

    void resetTouches();
    int touchCount() const;
    dk::player::GamePoint convertPointFromScaledSpace(plat::ui::Point point) const;
    void touchesBegan(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;
    void touchesMoved(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;
    void touchesEnded(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;
    void touchesCancelled(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;

    void didAccelerate(plat::sys::Accelerometer&, const plat::sys::Acceleration& acceleration) override;
    void beginInterruption() override;
    void endInterruption() override;

    // The main screen's scale as the content scale (the frame buffer's pixels per point).
    void configureContentScaleFactor();
    // Asks the engine to change scene, then plays unless playing.
    void changeToScene(const std::string& sceneName);

private:
    // Held weakly: a touch holds its view, and one the view never saw end must not keep it alive.
    struct TouchSlot {
        std::weak_ptr<plat::ui::Touch> touch;
        bool held = false;
    };
    int freeSlot() const;
    int slotOf(const std::shared_ptr<plat::ui::Touch>& touch) const;
    void touchEnded(const plat::ui::TouchSet& touches);

    DK_State* m_gameState;
    std::array<TouchSlot, kTouchSlots> m_allTouches;
    int m_pauseCount = 0;
    bool m_holdingStart = false;  // m_pauseCount counts holdUntilStarted's pause
    bool m_playing = false;
    bool m_loading = false;
    // The load's end (one update, one turn) has run: a play before the next frame does not repeat it.
    bool m_loadEndRun = false;
    double m_currentTime = 0;  // the platform clock's seconds at the last frame
    bool m_soundInterrupted = false;
    bool m_accelerometerUpdated = false;
    float m_accelerometerX = 0, m_accelerometerY = 0, m_accelerometerZ = 0;
    std::string m_saveFilePath;
    bool m_hasPlayedFirstFrame = false;
    bool m_frameLock = false;
    dk::player::GameViewport m_viewport;
    bool m_shouldCropGameView = false;
};
