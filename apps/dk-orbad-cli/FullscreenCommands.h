// dk-orbad-cli's full-screen ads: the client's full-screen ad controller, presented from the root
// view controller of the tool's own window, with the tool as its delegate.
//
//   fullscreen delegate [OPTION]...  from now on, which request hooks the delegate answers and how
//                                    (each line replaces the last): adurl=TEXT|empty|nil,
//                                    creative=TEXT, mediaurl=TEXT
//   fullscreen request               requestAd (the controller made at the first command)
//   fullscreen display               displayRequestedAdFromViewController: -> display yes|no
//   fullscreen request-display       requestAndDisplayAdFromViewController:
//   fullscreen done                  the toolbar's Done item, as a touch would press it
//   fullscreen state                 -> fullscreen hasAd=YES|NO displaying=YES|NO toolbar=shown|hidden
//                                       widget=shown|hidden statusbar=shown|hidden
//   widget tap                       a touch on the close widget on screen, through the application
//
// Each answers "ok" unless said otherwise. What the delegate hears prints as it happens, by the
// selector's name: "delegate fullScreenAdViewControllerDidFinishLoad", "delegate
// fullScreenAdViewController:didFailToLoadWithError: CODE DESCRIPTION", "delegate
// fullScreenAdViewControllerWillPresentAd", "delegate fullScreenAdViewControllerDidDismissAd", and
// each request hook asked ("delegate requestedAdUrlForFullScreenAdViewController" and the like).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"
#include "orbad/OrbadFullScreenAdViewController.h"

namespace plat::ui {
class ViewController;
}

namespace dk::tools::orbadcli {

class FullscreenCommands : private OrbadFullScreenAdDelegate {
public:
    // `root` gives the controller the ads are presented from, making the window on first use.
    FullscreenCommands(std::function<void(const std::string&)> say,
                       std::function<plat::ui::ViewController&()> root);
    ~FullscreenCommands() override;
    FullscreenCommands(const FullscreenCommands&) = delete;
    FullscreenCommands& operator=(const FullscreenCommands&) = delete;

    static const std::vector<dk::tools::AreaCommand<FullscreenCommands>>& commands();

private:
    struct Options {
        std::set<Hook> answered;
        std::optional<std::string> adURL, creative, mediaURL;
    };

    bool refuse(const std::string& why) const;
    bool fullscreen(dk::tools::Call& call);
    bool widget(dk::tools::Call& call);
    bool delegateOptions(const std::vector<dk::tools::Arg>& args);
    bool tapWidget();
    OrbadFullScreenAdViewController& controller();

    bool answers(Hook hook) const override { return m_options.answered.count(hook) > 0; }
    void fullScreenAdViewControllerDidFinishLoad(OrbadFullScreenAdViewController&) override;
    void fullScreenAdViewControllerDidFailToLoad(OrbadFullScreenAdViewController&,
                                                 const plat::foundation::Error& error) override;
    void fullScreenAdViewControllerWillPresentAd(OrbadFullScreenAdViewController&) override;
    void fullScreenAdViewControllerDidDismissAd(OrbadFullScreenAdViewController&) override;
    std::optional<std::string> requestedAdUrlForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) override;
    std::optional<std::string> requestedCreativeForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) override;
    std::optional<std::string> requestedVeltiMediaURLForFullScreenAdViewController(
        OrbadFullScreenAdViewController&) override;

    std::function<void(const std::string&)> m_say;
    std::function<plat::ui::ViewController&()> m_root;
    Options m_options;
    std::shared_ptr<OrbadFullScreenAdViewController> m_controller;
    int m_nextFinger = 1000;
};

}  // namespace dk::tools::orbadcli
