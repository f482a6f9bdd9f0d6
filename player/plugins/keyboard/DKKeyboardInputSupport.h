// Asks the player for text for the script ("KeyboardInput") on a full-screen entry screen and
// answers with the event "keyboardInputEntered" (the text) or "keyboardInputCancelled" ("").
//
// Not ready to play answers "keyboardInputCancelled" inside the script's call with nothing shown; a
// request while the entry screen is up is ignored ("plugin ignored KeyboardInput"). The event is
// raised before the screen closes, so the handler runs with it up.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/keyboard/DKKeyboardInputViewController.h"

class DKKeyboardInputSupport : public DKPluginSupport, private DKKeyboardInputViewControllerDelegate {
public:
    explicit DKKeyboardInputSupport(DKGameViewController* gameViewController);
    ~DKKeyboardInputSupport() override;
    static const char* pluginIdentifier() { return "keyboardinput"; }

    // "KeyboardInput". Before the game is ready to play: cancelled at once, nothing shown or
    // paused. While the screen is up a second request is ignored (traced "plugin ignored
    // KeyboardInput"). Else a behaviour pause and the screen, until done or a scene change.
    void keyboardInput(DKGameViewController*, std::optional<std::string> prompt,
                       std::optional<std::string> initialValue, int32_t displayNumberPad);
    // Raises "keyboardInputCancelled" with "" and closes the screen when it is up.
    void keyboardInputWasCancelled();
    bool isScreenUp() const { return m_screenUp; }
    DKKeyboardInputViewController& keyboardInputViewController() { return *m_controller; }

protected:
    void registerActions(lua_State* L) override;

private:
    void keyboardInputDidFinish(DKKeyboardInputViewController&, const std::string& inputText) override;
    void closeKeyboardScreen();

    std::shared_ptr<DKKeyboardInputViewController> m_controller;
    plat::foundation::Observation m_sceneChange;
    bool m_screenUp = false;
};
