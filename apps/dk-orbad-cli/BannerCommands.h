// dk-orbad-cli's banners: the client's public banner views in the root view controller's view of the
// tool's own window (portrait), with the tool as their delegate.
//
//   banner CLASS [X Y]            a banner of the class at (X, Y), its size the class's
//                                 -> banner CLASS X,Y,W,H
//   banner delegate [OPTION]...   from now on, which optional operations the delegate answers and
//                                 how (each line replaces the last): autoplay=yes|no, rmuser=yes|no,
//                                 keywords=TEXT, query=TEXT, ip=TEXT (both address operations),
//                                 adurl=TEXT|empty|nil, creative=TEXT, pause-on-load (pauses inside
//                                 adViewDidFinishLoad), faildetail (the one-argument adViewDidFailLoad),
//                                 handle=yes|no (the answer to shouldHandleSuballocationRequest),
//                                 receive (didReceiveSuballocationRequest), key=TEXT (the publisher key)
//   banner resume|pause|cancel|get|prefetch|display|continue|free
//   banner refresh S | space NAME | testing on|off
//   banner orphan                 the banner moves into the window itself, with no controller
//   tap X Y                       a touch down and up at a window point
//   memory-warning                the application's
//   browser URL [STYLE]           the last banner's openURLInBrowser
//                                 -> present OBBrowserViewController URL style=N
//   browser nav URL [click]       a navigation of the browser's page (--web fake)
//                                 -> browser url=CURRENT request=URL
//   browser done|actions          Done; the action button (-> sheet show B1,B2 | sheet hidden)
//   sheet press N                 the sheet on screen's button N
//
// "notify ORBAD_BROWSER_OPEN|ORBAD_BROWSER_CLOSE" print as they are posted.
//
// Each answers "ok" unless said otherwise; all but `banner CLASS` and `banner delegate` act on the
// last banner (`free` lets it go, and the one before is the last again). The delegate always
// answers the four operations the player implements and the custom action's touch; what it hears
// prints as it happens: "delegate adViewDidFinishLoad", "delegate adView:didFailLoadWithError: CODE
// DESCRIPTION", and the other operations' selector names likewise.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "apps/cli-support/CommandTable.h"
#include "orbad/OrbadAdView.h"
#include "platform/foundation/NotificationCenter.h"

namespace plat::ui {
class Application;
class ViewController;
class Window;
}  // namespace plat::ui

namespace orbad {
class OBBrowserViewController;
}

namespace dk::tools::orbadcli {

using Say = std::function<void(const std::string& line)>;

class BannerCommands : private OrbadAdViewDelegate {
public:
    explicit BannerCommands(Say say);
    ~BannerCommands() override;

    static const std::vector<dk::tools::AreaCommand<BannerCommands>>& commands();
    // The root view controller of the tool's window, made (and the application launched) on first use.
    plat::ui::ViewController& rootViewController();

private:
    bool memoryWarning(dk::tools::Call& call);
    // What `banner delegate` sets.
    struct Options {
        std::set<Op> answered;
        bool autoplay = false, richMediaUser = false, pauseOnLoad = false, handle = true;
        std::optional<std::string> keywords, query, ip, adURL, creative, publisherKey;
    };

    bool refuse(const std::string& why) const;
    bool banner(dk::tools::Call& call);
    bool create(const OrbadAdViewClass& cls, const std::vector<dk::tools::Arg>& args);
    bool delegateOptions(const std::vector<dk::tools::Arg>& args);
    bool tap(dk::tools::Call& call);
    bool browser(dk::tools::Call& call);
    bool pressSheet(dk::tools::Call& call);
    // The browser the last banner opened, while it lives.
    std::shared_ptr<orbad::OBBrowserViewController> lastBrowser() const;
    // The application, launched, and the window with its root controller: made at the first
    // command that needs them, so the other commands run as they always did.
    plat::ui::Application& application();

    bool answers(Op op) const override;
    void adViewDidFinishLoad(OrbadAdView* view) override;
    void adViewDidFailLoadWithError(OrbadAdView*, const plat::foundation::Error& error) override;
    bool adViewCanAutoplay(OrbadAdView*) override;
    bool richMediaRequiresUserInteraction(OrbadAdView*) override;
    bool adViewShouldHandleSuballocationRequest(OrbadAdView*, int code) override;
    void adViewDidReceiveSuballocationRequest(OrbadAdView*, int code) override;
    std::optional<std::string> adViewPublisherKeyForSuballocationRequest(OrbadAdView*, int code) override;
    void adViewWillTouchThrough(OrbadAdView*) override;
    void adViewDidFinishTouchThrough(OrbadAdView*) override;
    void adViewDidTouchCustomAdWithString(OrbadAdView*, const std::string& text) override;
    std::optional<std::string> obKeywords() override;
    std::optional<std::string> query() override;
    void adViewDidFailLoad(OrbadAdView*) override;
    std::optional<std::string> getOverrideIPAddress() override;
    std::optional<std::string> requestedAdUrlForAdView(OrbadAdView*) override;
    std::optional<std::string> requestedCreativeForAdView(OrbadAdView*) override;

    Say m_say;
    Options m_options;
    std::shared_ptr<plat::ui::ViewController> m_root;
    std::shared_ptr<plat::ui::Window> m_window;
    std::vector<std::shared_ptr<OrbadAdView>> m_banners;  // the last is the one commands act on
    int m_nextFinger = 1;
    plat::foundation::Observation m_browserShown, m_browserHidden;
};

}  // namespace dk::tools::orbadcli
