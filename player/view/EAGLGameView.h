// Stand-in until the view lands: the game view's side of play, pause, stop, scene loading and
// audio interruptions, without GL.
#pragma once

#include <memory>

#include "engine/DKEngine.h"
#include "platform/sys/AudioSession.h"
#include "platform/ui/View.h"

int UItoDKDeviceOrientation(int orientation);

class EAGLGameView : public plat::ui::View, public plat::sys::AudioSessionDelegate {
public:
    static std::shared_ptr<EAGLGameView> create(const plat::ui::Rect& frame, DK_State* state);
    EAGLGameView(const plat::ui::Rect& frame, DK_State* state);
    ~EAGLGameView() override;
    const char* className() const override { return "EAGLGameView"; }

    DK_State* gameState() const { return m_gameState; }
    void play();
    void pauseInitiatedBySystem(bool system);
    void stop();
    void startAnimation();
    void stopAnimation() { m_animating = false; }
    bool animating() const { return m_animating; }
    bool playing() const { return m_playing; }
    bool loading() const { return m_loading; }
    void setLoading(bool loading) { m_loading = loading; }
    bool dirty() const { return m_dirty; }
    void setDirty(bool dirty) { m_dirty = dirty; }
    bool hasPlayedFirstFrame() const { return m_hasPlayedFirstFrame; }
    int pauseCount() const { return m_pauseCount; }
    void configureContentScaleFactor() {}
    void resetTouches();

    void beginInterruption() override;
    void endInterruption() override;

private:
    void setPlaying(bool playing);
    DK_State* m_gameState;
    int m_pauseCount = 0;
    bool m_playing = false;
    bool m_loading = false;
    bool m_dirty = false;
    bool m_animating = false;
    bool m_hasPlayedFirstFrame = false;
    bool m_soundInterrupted = false;
};
