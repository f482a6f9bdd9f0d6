#include "apps/dk-orbad-cli/ActionCommands.h"

#include <cstdio>

#include "apps/cli-support/CommandLine.h"
#include "orbad/OrbadAdViewVideoController.h"
#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAdAction.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/ViewController.h"

namespace dk::tools::orbadcli {

using plat::media::MoviePlayerController;

ActionCommands::ActionCommands(std::function<void(const std::string&)> say) : m_say(std::move(say)) {
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    for (const char* name : {orbad::kOBVideoPlayerWillShow, orbad::kOBVideoPlayerDidHide,
                             plat::media::kMoviePlayerPlaybackDidFinishNotification})
        m_heard.push_back(center.observe(name, nullptr, [this](const plat::foundation::Notification& n) {
            std::string line = "notify " + n.name;
            if (const auto* reason = n.userInfo.find(plat::media::kMoviePlayerPlaybackDidFinishReasonUserInfoKey))
                line += std::string(" ") +
                        plat::media::movieFinishReasonName(static_cast<plat::media::MovieFinishReason>(reason->intValue()));
            m_say(line);
        }));
    // Every presentation once, whoever made it; a browser with its address and style.
    plat::ui::ViewController::setPresentationListener([this](const plat::ui::ViewController& presented) {
        std::string line = std::string("present ") + presented.className();
        if (const auto* browser = dynamic_cast<const orbad::OBBrowserViewController*>(&presented))
            line += " " + dk::tools::escape(browser->requestURL()) + " style=" + std::to_string(browser->browserStyle());
        m_say(line);
    });
}

ActionCommands::~ActionCommands() {
    plat::ui::ViewController::setPresentationListener({});
}

bool ActionCommands::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

const std::vector<dk::tools::AreaCommand<ActionCommands>>& ActionCommands::commands() {
    static const std::vector<dk::tools::AreaCommand<ActionCommands>> table = {
        {"video", {"video URL"}, &ActionCommands::video},
        {"movie", {"movie | movie finish"}, &ActionCommands::movie},
    };
    return table;
}

bool ActionCommands::video(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    if (args.size() != 1) return refuse("usage: video URL");
    OrbadAdViewVideoController::presentFullScreenVideoURL(args[0].text, nullptr);
    m_say("ok");
    return true;
}

bool ActionCommands::movie(dk::tools::Call& call) {
    const std::vector<dk::tools::Arg>& args = call.args;
    MoviePlayerController* movie = MoviePlayerController::current();
    if (args.empty()) {
        if (!movie) {
            m_say("movie none");
            return true;
        }
        char line[64];
        std::snprintf(line, sizeof line, " %.3f %.3f", movie->currentPlaybackTime(), movie->duration());
        m_say("movie " + movie->contentURL() + line);
        return true;
    }
    if (args.size() != 1 || args[0].text != "finish") return refuse("usage: movie [finish]");
    if (!movie) return refuse("no movie playing");
    movie->finishPlaying();
    return true;
}

}  // namespace dk::tools::orbadcli
