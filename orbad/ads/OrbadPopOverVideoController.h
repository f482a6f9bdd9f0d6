// The tablet's video screen of a pop-over video action: the movie in place and, with buttons, a
// segmented control "Video" plus one segment per button, each showing its page in a web view.
// Nothing presents it here (the pop-over class is absent); it stands on its own. Main thread.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {
class ActivityIndicator;
class SegmentedControl;
class WebView;
}  // namespace plat::ui
namespace plat::media {
class MoviePlayerController;
}

namespace orbad {

class OrbadAd;
class OrbadAdPopupVideoAction;

class OrbadPopOverVideoController : public plat::ui::ViewController {
public:
    explicit OrbadPopOverVideoController(std::shared_ptr<OrbadAd> ad);
    ~OrbadPopOverVideoController() override;
    const char* className() const override { return "OrbadPopOverVideoController"; }

    const std::string& title() const { return m_title; }
    const std::shared_ptr<plat::media::MoviePlayerController>& moviePlayer() const { return m_player; }
    const std::shared_ptr<plat::ui::WebView>& browserView() const { return m_browserView; }
    // The navigation item's title view; null without buttons.
    const std::shared_ptr<plat::ui::SegmentedControl>& segmentedControl() const { return m_segments; }
    // What Done does: the pop-over's dismissal (none here unless set).
    void setDismissPopover(std::function<void()> dismiss) { m_dismissPopover = std::move(dismiss); }

    void closePlayer();
    void selectedSegmentChanged();
    void moviePreparedToPlay();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

private:
    void playMovie();

    std::shared_ptr<OrbadAd> m_ad;
    std::shared_ptr<const OrbadAdPopupVideoAction> m_action;
    std::string m_title = "Video";
    std::shared_ptr<plat::media::MoviePlayerController> m_player;
    std::shared_ptr<plat::ui::WebView> m_browserView;
    std::shared_ptr<plat::ui::SegmentedControl> m_segments;
    std::shared_ptr<plat::ui::ActivityIndicator> m_spinner;
    std::function<void()> m_dismissPopover;
    plat::foundation::Observation m_prepared;
    bool m_ranOnce = false, m_preparedSeen = false;
};

}  // namespace orbad
