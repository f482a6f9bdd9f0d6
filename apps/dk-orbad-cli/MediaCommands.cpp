#include "apps/dk-orbad-cli/MediaCommands.h"

#include "platform/services/devices/MediaServices.h"
#include "platform/ui/MediaScreens.h"

namespace dk::tools::orbadcli {

MediaCommands::MediaCommands(std::function<void(const std::string&)> say) : m_say(std::move(say)) {
    plat::devices::setMediaListener([this](std::string_view line) { m_say(dk::tools::escape(std::string(line))); });
}

MediaCommands::~MediaCommands() {
    plat::devices::setMediaListener({});
}

bool MediaCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

const std::vector<dk::tools::AreaCommand<MediaCommands>>& MediaCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<MediaCommands>> table = {
        {"camera", {"camera pick|cancel"}, &MediaCommands::camera},
        {"compose", {"compose done"}, &MediaCommands::compose},
    };
    return table;
}

bool MediaCommands::camera(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    if (args.size() != 1 || (args[0].text != "pick" && args[0].text != "cancel"))
        return refuse("usage: camera pick|cancel");
    auto picker = plat::ui::ImagePickerController::onScreen();
    if (!picker) return refuse("no camera picker on screen");
    if (args[0].text == "pick")
        picker->pick();
    else
        picker->cancel();
    return true;
}

bool MediaCommands::compose(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    if (args.size() != 1 || args[0].text != "done") return refuse("usage: compose done");
    auto composer = plat::ui::ComposeViewController::onScreen();
    if (!composer) return refuse("no composer on screen");
    composer->finish();
    return true;
}

}  // namespace dk::tools::orbadcli
