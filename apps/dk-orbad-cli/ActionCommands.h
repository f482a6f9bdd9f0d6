// dk-orbad-cli's commands over ad actions and the movie player: `video URL` (the full-screen video
// of the publisher's video controller), `movie finish` (the playing movie ends at once, as if it had
// played out), `movie` (the playing movie's URL, time and duration). The video notifications are
// said as "notify NAME" lines while it lives, and each screen presented (a banner's tapped video
// action among them) as "present CLASS".
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"
#include "platform/foundation/NotificationCenter.h"

namespace dk::tools::orbadcli {

class ActionCommands {
public:
    explicit ActionCommands(std::function<void(const std::string&)> say);
    ~ActionCommands();
    ActionCommands(const ActionCommands&) = delete;
    ActionCommands& operator=(const ActionCommands&) = delete;
    static const std::vector<dk::tools::AreaCommand<ActionCommands>>& commands();

private:
    bool video(dk::tools::Call& call);
    bool movie(dk::tools::Call& call);
    bool refuse(const std::string& why) const;
    std::function<void(const std::string&)> m_say;
    std::vector<plat::foundation::Observation> m_heard;
};

}  // namespace dk::tools::orbadcli
