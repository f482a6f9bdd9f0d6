// dk-orbad-cli's rich-media commands, on the last rich-media creative shown:
//   web nav URL [click]     a navigation the page starts (a user's click with "click"), through the
//                           view's decision: "web load URL" or "web refuse URL"; under --web wpe
//                           the page itself navigates
//   web click               a user's click in the page (the fake page's mAdViewPermissionsCheck()
//                           answers the key last injected)
//   web meta NAME CONTENT [WIDTH HEIGHT]   the page's meta tag NAME
//   web answer SCRIPT RESULT               the fake page's answer to exactly SCRIPT
//   web fail                the current load fails (fake page)
//   rotate N                the device and the interface turn to orientation N (1-4)
// Every script evaluated in a web view prints as "js SCRIPT".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli-support/CommandLine.h"
#include "platform/ui/WebView.h"

namespace orbad {
class OrbadRichMediaWebAdView;
}

namespace dkorbad {

class RichMediaCommands : private plat::ui::WebViewObserver {
public:
    explicit RichMediaCommands(bool realEngine);
    ~RichMediaCommands() override;
    RichMediaCommands(const RichMediaCommands&) = delete;
    RichMediaCommands& operator=(const RichMediaCommands&) = delete;

    void setView(const std::shared_ptr<orbad::OrbadRichMediaWebAdView>& view) { m_view = view; }
    // Not one of these commands: nullopt. Else whether it ran (a refusal has printed "error ...").
    std::optional<bool> run(const std::string& name, const std::vector<dk::cli::Arg>& args);

private:
    void webViewDecided(plat::ui::WebView&, const plat::ui::WebRequest& request, plat::ui::WebNavigationType,
                        bool allowed) override;
    void webViewEvaluates(plat::ui::WebView&, const std::string& script) override;
    bool web(const std::vector<dk::cli::Arg>& args);
    bool rotate(const std::vector<dk::cli::Arg>& args);

    bool m_real;
    bool m_watching = false;
    bool m_decided = false;
    std::weak_ptr<orbad::OrbadRichMediaWebAdView> m_view;
};

}  // namespace dkorbad
