// dk-orbad-cli's commands for the media stand-ins' screens: `camera pick|cancel` (the camera
// picker on screen takes its configured picture, or is cancelled) and `compose done` (the mail or
// SMS composer on screen finishes). What the stand-ins do prints as it happens ("camera show",
// "torch on", "vibrate", "mail to=...", "sms to=...").
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"

namespace dk::tools::orbadcli {

class MediaCommands {
public:
    explicit MediaCommands(std::function<void(const std::string&)> say);
    ~MediaCommands();
    MediaCommands(const MediaCommands&) = delete;
    MediaCommands& operator=(const MediaCommands&) = delete;
    static const std::vector<dk::tools::AreaCommand<MediaCommands>>& commands();

private:
    bool camera(dk::tools::Call& call);
    bool compose(dk::tools::Call& call);
    bool refuse(const std::string& why) const;
    std::function<void(const std::string&)> m_say;
};

}  // namespace dk::tools::orbadcli
