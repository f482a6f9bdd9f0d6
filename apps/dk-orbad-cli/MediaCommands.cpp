#include "apps/dk-orbad-cli/MediaCommands.h"

#include "platform/services/devices/MediaServices.h"
#include "platform/ui/MediaScreens.h"

namespace dk::tools::orbadcli {

MediaCommands::MediaCommands(std::function<void(const std::string&)> say) : m_say(std::move(say)) {
    plat::sys::setMediaListener([this](std::string_view line) { m_say(dk::tools::escape(std::string(line))); });
}

MediaCommands::~MediaCommands() {
    plat::sys::setMediaListener({});
}

bool MediaCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

std::optional<bool> MediaCommands::run(const std::string& name, const std::vector<dk::tools::Arg>& args) {
    if (name == "camera") {
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
    if (name == "compose") {
        if (args.size() != 1 || args[0].text != "done") return refuse("usage: compose done");
        auto composer = plat::ui::ComposeViewController::onScreen();
        if (!composer) return refuse("no composer on screen");
        composer->finish();
        return true;
    }
    return std::nullopt;
}

}  // namespace dk::tools::orbadcli
