// The probe plugin, for tests and outside checks of the bridge: actions of every parameter and
// result type, each call traced under "bridge". Made only when asked for.
//
// Its controller actions ("probe.pause", "probe.play", "probe.rawplay", "probe.playFromThread",
// "probe.stop", "probe.raise") trace "bridge <action> <arguments>".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "player/plugins/DKPluginSupport.h"

class DKProbeSupport : public DKPluginSupport {
public:
    // `echoTrace` names the echo's trace line: "probe.echo", or "probe.echo2" for the second
    // target that "probe.rebind" registers.
    explicit DKProbeSupport(DKGameViewController* gameViewController, std::string echoTrace = "probe.echo")
        : DKPluginSupport(gameViewController), m_echoTrace(std::move(echoTrace)) {}
    ~DKProbeSupport() override;
    static const char* pluginIdentifier() { return "probe"; }

    // "probe.echo": traces "<echoTrace> @=<text or nil> i=<int> I=<unsigned> d=<%.17g> f=<%.9g> c=<YES|NO>".
    void echo(DKGameViewController*, std::optional<std::string> object, int32_t i, uint32_t u, double d,
              float f, bool c);
    // 9001: traces "probe.id 9001".
    void identify(DKGameViewController*);
    // "probe.rebind": registers "probe.echo" again, on a second probe tracing "probe.echo2".
    void rebind(DKGameViewController*);

    // The controller's side, each traced with its arguments ("probe.pause YES 0.5"); without a
    // controller (dk-util bridge) only traced.
    // "probe.pause": a pause through pauseGame; for seconds > 0 released that many clock seconds
    // later ("probe.pause.release", or "probe.pause.release none" when none is held by then).
    void pause(DKGameViewController*, bool system, double seconds);
    // "probe.play": releases one of the probe's own pauses ("probe.play none" when it holds none).
    void play(DKGameViewController*);
    // "probe.rawplay": the controller's play, whatever the probe holds.
    void rawPlay(DKGameViewController* controller);
    // "probe.playFromThread": the controller's play, called from a new thread.
    void playFromThread(DKGameViewController* controller);
    // "probe.stop": the controller's stop.
    void stop(DKGameViewController* controller);
    // "probe.raise": raises the event `name` with `argument` (none when nil) at once.
    void raise(DKGameViewController* controller, std::optional<std::string> name,
               std::optional<std::string> argument);

    // Results, untraced: "probe.int" ... "probe.nil".
    int32_t intResult(DKGameViewController*) { return -7; }
    uint32_t unsignedResult(DKGameViewController*) { return 4294967295u; }
    double doubleResult(DKGameViewController*) { return 0.1; }
    float floatResult(DKGameViewController*) { return 0.1f; }
    bool boolResult(DKGameViewController*) { return true; }
    std::optional<std::string> stringResult(DKGameViewController*) { return "x"; }
    plat::foundation::Value numberResult(DKGameViewController*) { return 2.5; }
    plat::foundation::Value objectResult(DKGameViewController*);
    plat::foundation::Value nilResult(DKGameViewController*) { return {}; }

protected:
    void registerActions(lua_State* L) override;

private:
    std::string m_echoTrace;
    lua_State* m_L = nullptr;  // the main Lua state whose table holds the actions
};
