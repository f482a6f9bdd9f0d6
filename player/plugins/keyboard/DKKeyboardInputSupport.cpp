#include "player/plugins/keyboard/DKKeyboardInputSupport.h"

#include "player/app/DrovikPlayerAppDelegate.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/controller/DKGameViewController.h"

DKKeyboardInputSupport::DKKeyboardInputSupport(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController), m_controller(std::make_shared<DKKeyboardInputViewController>()) {
    m_controller->setDelegate(this);
}

DKKeyboardInputSupport::~DKKeyboardInputSupport() {
    m_controller->setDelegate(nullptr);
}

void DKKeyboardInputSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKKeyboardInputSupport>(), gameViewController(), &DKKeyboardInputSupport::keyboardInput,
        "KeyboardInput");
}

void DKKeyboardInputSupport::keyboardInput(DKGameViewController* controller, std::optional<std::string> prompt,
                                           std::optional<std::string> initialValue, int32_t displayNumberPad) {
    if (m_screenUp) {
        plat::foundation::trace(dk::player::pluginTrace(), "ignored KeyboardInput");
        return;
    }
    if (!controller || !controller->readyToPlay()) {
        keyboardInputWasCancelled();
        return;
    }
    m_sceneChange = plat::foundation::NotificationCenter::defaultCenter().observe(
        DKSceneDidChangeNotification, nullptr,
        [this](const plat::foundation::Notification&) { keyboardInputWasCancelled(); });
    pauseGame(false);
    m_controller->setDisplayNumberPad(displayNumberPad != 0);
    // Title and text before the presentation: the screen traces them as it appears.
    m_controller->setPrompt(prompt.value_or(""));
    m_controller->setInitialValue(initialValue.value_or(""));
    controller->presentViewController(m_controller, true);
    m_screenUp = m_controller->presentingViewController() != nullptr;
    if (!m_screenUp) {
        // Refused (the game view is in no window): the script still gets its answer.
        m_sceneChange = {};
        resumeGame();
        keyboardInputWasCancelled();
    }
}

void DKKeyboardInputSupport::keyboardInputDidFinish(DKKeyboardInputViewController&, const std::string& inputText) {
    // The script's handler runs with the screen still up: a request from there is ignored.
    const std::string text = inputText;
    raiseEvent("keyboardInputEntered", {text});
    closeKeyboardScreen();
}

void DKKeyboardInputSupport::keyboardInputWasCancelled() {
    raiseEvent("keyboardInputCancelled", {""});
    closeKeyboardScreen();
}

void DKKeyboardInputSupport::closeKeyboardScreen() {
    if (!m_screenUp) return;
    m_screenUp = false;
    m_sceneChange = {};
    m_controller->dismissViewController(true);
    resumeGame();
}
