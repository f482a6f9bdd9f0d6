#include "player/plugins/probe/DKProbeSupport.h"

#include <thread>

#include "platform/foundation/RunLoop.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/controller/DKGameViewController.h"
#include "player/EngineCalls.h"

using plat::foundation::Value;

void DKProbeSupport::registerActions(lua_State* L) {
    m_L = L;
    auto table = DKExternalFunctionTable::externalFunctionTableForState(L);
    auto target = self<DKProbeSupport>();
    table->registerTarget(target, gameViewController(),
                          {
                              {"probe.echo", &DKProbeSupport::echo},
                              {"probe.rebind", &DKProbeSupport::rebind},
                              {"probe.int", &DKProbeSupport::intResult},
                              {"probe.uint", &DKProbeSupport::unsignedResult},
                              {"probe.double", &DKProbeSupport::doubleResult},
                              {"probe.float", &DKProbeSupport::floatResult},
                              {"probe.bool", &DKProbeSupport::boolResult},
                              {"probe.string", &DKProbeSupport::stringResult},
                              {"probe.number", &DKProbeSupport::numberResult},
                              {"probe.object", &DKProbeSupport::objectResult},
                              {"probe.nil", &DKProbeSupport::nilResult},
                              {"probe.pause", &DKProbeSupport::pause},
                              {"probe.play", &DKProbeSupport::play},
                              {"probe.rawplay", &DKProbeSupport::rawPlay},
                              {"probe.playFromThread", &DKProbeSupport::playFromThread},
                              {"probe.stop", &DKProbeSupport::stop},
                              {"probe.raise", &DKProbeSupport::raise},
                          });
    table->registerTarget(target, gameViewController(), {{9001, &DKProbeSupport::identify}});
}

void DKProbeSupport::echo(DKGameViewController*, std::optional<std::string> object, int32_t i, uint32_t u,
                          double d, float f, bool c) {
    plat::foundation::tracef(dk::player::bridgeTrace(), "%s @=%s i=%d I=%u d=%.17g f=%.9g c=%s",
                             m_echoTrace.c_str(), object ? object->c_str() : "nil", i, u, d,
                             static_cast<double>(f), c ? "YES" : "NO");
}

void DKProbeSupport::identify(DKGameViewController*) {
    plat::foundation::trace(dk::player::bridgeTrace(), "probe.id 9001");
}

void DKProbeSupport::rebind(DKGameViewController* controller) {
    // The second probe lives only through the action that names it.
    auto second = std::make_shared<DKProbeSupport>(controller, "probe.echo2");
    DKExternalFunctionTable::externalFunctionTableForState(m_L)->registerTarget(
        second, controller, &DKProbeSupport::echo, "probe.echo");
}

Value DKProbeSupport::objectResult(DKGameViewController*) {
    return Value::Array{1, "two"};
}

DKProbeSupport::~DKProbeSupport() {
    plat::foundation::RunLoop::main().cancelPerforms(this);
}

namespace {
void traceBridge(const char* text) {
    plat::foundation::trace(dk::player::bridgeTrace(), text);
}
}  // namespace

void DKProbeSupport::pause(DKGameViewController*, bool system, double seconds) {
    plat::foundation::tracef(dk::player::bridgeTrace(), "probe.pause %s %g", system ? "YES" : "NO", seconds);
    pauseGame(system);
    if (seconds > 0)
        plat::foundation::RunLoop::main().performAfter(seconds, this, [this] {
            traceBridge(heldPauses() ? "probe.pause.release" : "probe.pause.release none");
            resumeGame();
        });
}

void DKProbeSupport::play(DKGameViewController*) {
    traceBridge(heldPauses() ? "probe.play" : "probe.play none");
    resumeGame();
}

void DKProbeSupport::rawPlay(DKGameViewController* controller) {
    traceBridge("probe.rawplay");
    if (controller) controller->play();
}

void DKProbeSupport::playFromThread(DKGameViewController* controller) {
    traceBridge("probe.playFromThread");
    // Off the main thread the call only queues itself.
    if (controller) std::thread([controller] { controller->play(); }).join();
}

void DKProbeSupport::stop(DKGameViewController* controller) {
    traceBridge("probe.stop");
    if (controller) controller->stop();
}

void DKProbeSupport::raise(DKGameViewController* controller, std::optional<std::string> name,
                           std::optional<std::string> argument) {
    plat::foundation::tracef(dk::player::bridgeTrace(), "probe.raise %s %s", name ? name->c_str() : "nil",
                             argument ? argument->c_str() : "nil");
    if (!name || !controller) return;
    const char* arguments[] = {argument ? argument->c_str() : nullptr};
    dk::player::engine::raiseExternalEvent(controller->gameState(), name->c_str(), arguments, argument ? 1 : 0);
}
