#include "player/plugins/DKPluginSupport.h"

#include <vector>

#include "player/controller/DKGameViewController.h"
#include "player/EngineCalls.h"

namespace dk::player {
plat::foundation::TraceCategory& pluginTrace() {
    static plat::foundation::TraceCategory category("plugin");
    return category;
}
}  // namespace dk::player

using dk::player::pluginTrace;

void DKPluginSupport::pauseGame(bool system) {
    DKGameViewController* controller = gameViewController();
    if (!controller) return;
    ++m_heldPauses;
    plat::foundation::tracef(pluginTrace(), "pause %s %s", m_identifier ? m_identifier : "null",
                             system ? "system" : "behavior");
    controller->pauseInitiatedBySystem(system);
}

bool DKPluginSupport::resumeGame() {
    DKGameViewController* controller = gameViewController();
    if (!controller || m_heldPauses == 0) return false;
    --m_heldPauses;
    plat::foundation::tracef(pluginTrace(), "play %s", m_identifier ? m_identifier : "null");
    controller->play();
    return true;
}

bool DKPluginSupport::beginPausedUnit(const char* action) {
    if (m_unitInFlight) {
        plat::foundation::tracef(pluginTrace(), "ignored %s", action);
        return false;
    }
    m_unitInFlight = true;
    pauseGame(false);
    return true;
}

void DKPluginSupport::endPausedUnit() {
    m_unitInFlight = false;
    resumeGame();
}

void DKPluginSupport::raiseEvent(const char* name, const std::vector<std::string>& arguments) {
    plat::foundation::trace(pluginTrace(), [&] {
        std::string line = std::string("event ") + name;
        for (const std::string& argument : arguments) (line += '|') += argument;
        return line;
    });
    DKGameViewController* controller = gameViewController();
    if (!controller) return;
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    dk::player::engine::raiseExternalEvent(controller->gameState(), name, pointers.data(),
                                           static_cast<int>(pointers.size()));
}
