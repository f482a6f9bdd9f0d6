#include "player/plugins/DKPluginSupport.h"

#include "player/controller/DKGameViewController.h"

void DKPluginSupport::pauseGame(bool system) {
    DKGameViewController* controller = gameViewController();
    if (!controller) return;
    ++m_heldPauses;
    controller->pauseInitiatedBySystem(system);
}

bool DKPluginSupport::resumeGame() {
    DKGameViewController* controller = gameViewController();
    if (!controller || m_heldPauses == 0) return false;
    --m_heldPauses;
    controller->play();
    return true;
}
