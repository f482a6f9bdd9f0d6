// dk-orbad-cli's rich-media commands, on the last rich-media view: the `creative` command's, or the
// last one a banner or a full-screen ad made that is on screen (an expanded banner's included):
//   web nav URL [click]     a navigation the page starts (the user's click on a link with "click"),
//                           through the view's decision: "web load URL" or "web refuse URL"; under
//                           --web wpe the page itself navigates, a click by a tap on the link, else
//                           in a new frame ("web none: the page holds N frames, ..." at once on a
//                           page holding as many as the engine loads)
//   web click               the user's tap at the middle of the view, through the application
//   web wait TEXT           until a web view decides a navigation whose address holds TEXT (10 s
//                           of real time at most; decisions since the last `web` command count):
//                           "web load URL" or "web refuse URL", else "web none"
//   web meta NAME CONTENT [WIDTH HEIGHT]   the page's meta tag NAME
//   web answer SCRIPT RESULT               the fake page's answer to exactly SCRIPT
//   web fail                the current load fails (fake page)
//   rotate N                the device and the interface turn to orientation N (1-4)
// Every script evaluated in a web view prints as "js SCRIPT", every script a view gives the
// documents it shows next as "start-js SCRIPT".
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"
#include "platform/ui/WebView.h"

namespace orbad {
class OrbadRichMediaWebAdView;
}

namespace dk::tools::orbadcli {

class RichMediaCommands : private plat::ui::WebViewObserver {
public:
    explicit RichMediaCommands(bool realEngine);
    ~RichMediaCommands() override;
    RichMediaCommands(const RichMediaCommands&) = delete;
    RichMediaCommands& operator=(const RichMediaCommands&) = delete;

    // The `creative` command's view; hook heard for it and for each view the engines make.
    void setView(const std::shared_ptr<orbad::OrbadRichMediaWebAdView>& view);
    void setViewHook(std::function<void(const std::shared_ptr<orbad::OrbadRichMediaWebAdView>&)> hook) {
        m_hook = std::move(hook);
    }
    static const std::vector<dk::tools::AreaCommand<RichMediaCommands>>& commands();

private:
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request, plat::ui::WebNavigationType,
                        bool allowed) override;
    void webViewEvaluates(plat::ui::WebView&, const std::string& script) override;
    void webViewSetsStartScript(plat::ui::WebView&, const std::string& script) override;
    // The view the commands act on: the last one made that is on screen, else the last one alive.
    std::shared_ptr<orbad::OrbadRichMediaWebAdView> view();
    bool web(dk::tools::Call& call);
    bool rotate(dk::tools::Call& call);
    // The user's finger down and up at `point` of `view`, through the application.
    bool tap(orbad::OrbadRichMediaWebAdView& view, plat::ui::Point point);
    // Turns until a decision whose address holds `text` (any, when empty) is in; prints it.
    void awaitDecision(const std::string& text, double seconds);

    struct Decision {
        std::string url;
        bool allowed;
    };
    bool m_real;
    std::vector<Decision> m_decisions;  // not yet printed
    std::vector<std::weak_ptr<orbad::OrbadRichMediaWebAdView>> m_views;
    std::function<void(const std::shared_ptr<orbad::OrbadRichMediaWebAdView>&)> m_hook;
    int m_nextFinger = 5000;
};

}  // namespace dk::tools::orbadcli
