// dk-orbad-cli's commands over the client's network parts:
//   net wifi|wwan|none                    the connection the device reports from now on
//   reach [HOST]                          the client's reachability: "reach STATUS required|notrequired"
//   get URL [timeout=S] [NAME:VALUE]...   a GET by the client's request, headers added
//   form URL [core] NAME=VALUE...         a form POST (the core request with "core")
//   cancel                                the requests these commands started
//   event FILE NAME                       an ad's event table from FILE, its event NAME triggered:
//                                         "event NAME COUNT" (the URLs it reaches)
// A request says "http GET|POST URL" as it starts and its outcome when the main loop hands it out:
// "delegate requestDidFinish STATUS BODY" or "delegate requestDidFail CODE".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"

namespace dk::tools::orbadcli {

// A request of the client is in flight: what `settle` waits on.
bool requestsInFlight();

class NetCommands : private Voice {
public:
    explicit NetCommands(Say say);
    ~NetCommands();
    static const std::vector<AreaCommand<NetCommands>>& commands();

private:
    class Delegate;
    bool net(Call& call);
    bool reach(Call& call);
    bool get(Call& call);
    bool form(Call& call);
    bool cancel(Call& call);
    bool event(Call& call);

    std::shared_ptr<Delegate> m_delegate;
};

}  // namespace dk::tools::orbadcli
