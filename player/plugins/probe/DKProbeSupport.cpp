#include "player/plugins/probe/DKProbeSupport.h"

#include "player/bridge/DKExternalFunctionTable.h"

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
