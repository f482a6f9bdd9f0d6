// dk-orbad-cli's commands over the client's start and what it reads of the device:
//   start [APPID]                 the client started (with the bundle's id when none is given)
//   app resign|active|terminate   the application's notification posted
//   location LAT LON [ACCURACY]   the location the client reports (accuracy 10 by default)
//   battery LEVEL STATE           the device's battery (LEVEL -1 or 0 to 1, STATE 0-3)
//   config | env | session        the running client's configuration, environment and session,
//                                 a "config|env|session NAME VALUE" line each
//   defaults KEY                  the user defaults' value: "defaults KEY JSON|nil"
//   pasteboard NAME TEXT          TEXT on the persistent pasteboard NAME
#pragma once

#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"

namespace dk::tools::orbadcli {

class SetupCommands : private Voice {
public:
    explicit SetupCommands(Say say) : Voice(std::move(say)) {}
    static const std::vector<AreaCommand<SetupCommands>>& commands();

private:
    bool start(Call& call);
    bool app(Call& call);
    bool location(Call& call);
    bool battery(Call& call);
    bool config(Call& call);
    bool env(Call& call);
    bool session(Call& call);
    bool defaults(Call& call);
    bool pasteboard(Call& call);
};

}  // namespace dk::tools::orbadcli
