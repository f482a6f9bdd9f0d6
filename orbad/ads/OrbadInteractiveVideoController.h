// The interactive video screen of a "video" action: a landscape landing picture with a Play
// control; the movie plays over it with the ad's own bar (Done or a close box, the tagline) and,
// when the action has buttons, a toolbar of their pictures that open pages in the in-app browser.
// Main thread.
//
// The movie plays on the movie player's own view; the older road, a search of the key window for
// the player's (ten tries 0.1 s apart), is kept for a host that offers one. The toolbar exists only
// with buttons and is as tall as the tallest button picture that loaded (kOBVideoToolbarHeight
// when none did).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orbad/ads/OrbadImageDownloads.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {
class ActivityIndicator;
class Button;
class ImageView;
class Label;
}  // namespace plat::ui
namespace plat::media {
class MoviePlayerController;
}

namespace orbad {

class OrbadAd;
class OrbadAdVideoAction;

inline constexpr double kOBVideoToolbarHeight = 49;
inline constexpr double kOBVideoBarHeight = 34;

class OrbadInteractiveVideoView : public plat::ui::View {
public:
    OrbadInteractiveVideoView(const plat::ui::Rect& frame, std::shared_ptr<const OrbadAdVideoAction> action);
    ~OrbadInteractiveVideoView() override;
    const char* className() const override { return "OrbadInteractiveVideoView"; }

    const std::shared_ptr<plat::ui::Button>& playButton() const { return m_playButton; }
    const std::shared_ptr<plat::ui::Button>& closeButton() const { return m_closeButton; }
    const std::shared_ptr<plat::ui::View>& actionsToolbar() const { return m_toolbar; }
    const std::shared_ptr<plat::ui::View>& controlsView() const { return m_controls; }
    const std::shared_ptr<plat::ui::Label>& playLabel() const { return m_playLabel; }
    // The bar over the playing movie (null until injected).
    const std::shared_ptr<plat::ui::View>& overlayBar() const { return m_overlay; }
    double toolbarHeight() const { return m_toolbarHeight; }
    unsigned injectAttemptCount() const { return m_injectAttempts; }
    bool imagesLoaded() const { return m_imagesLoaded; }
    // What a toolbar button's touch calls, with the button's index.
    void setToolbarAction(std::function<void(int index)> action) { m_toolbarAction = std::move(action); }

    bool useNewPlayer() const { return m_useNewPlayer; }
    void setUseNewPlayer(bool value) { m_useNewPlayer = value; }
    const std::shared_ptr<plat::media::MoviePlayerController>& moviePlayerController() const { return m_player; }
    void setMoviePlayerController(std::shared_ptr<plat::media::MoviePlayerController> player);

    // Spinner and "Loading", or the icon and "Play".
    void setPreloading(bool preloading);
    void startMoviePlayback();
    void endMoviePlayback();
    void stopPlaying();
    void closeNewPlayer();
    void removeMoviePlayer();
    void populateToolbar();
    void restoreToolbarToLandingPage();
    void buildAndInjectOrbadVideoUI();
    // 200 x 34: the tagline picture at the right end, "Ads by Orbad" before it when there is a title.
    std::shared_ptr<plat::ui::View> taglineView();
    void layoutSubviews() override;

private:
    void loadImages();
    void injectIntoOldPlayer();

    std::shared_ptr<const OrbadAdVideoAction> m_action;
    std::shared_ptr<plat::ui::View> m_toolbar;
    std::vector<std::shared_ptr<plat::ui::Button>> m_toolbarButtons;
    unsigned m_injectAttempts = 0;
    bool m_imagesLoaded = false;
    OrbadImageDownloads m_images;
    OrbadImageDownloads m_landing;
    std::shared_ptr<plat::ui::Button> m_playButton, m_closeButton;
    std::shared_ptr<plat::ui::ImageView> m_playIcon, m_background;
    std::shared_ptr<plat::ui::ActivityIndicator> m_spinner;
    std::shared_ptr<plat::ui::Label> m_playLabel;
    std::shared_ptr<plat::ui::View> m_controls, m_overlay;
    double m_toolbarHeight = kOBVideoToolbarHeight;
    std::function<void(int)> m_toolbarAction;
    bool m_useNewPlayer = true;
    std::shared_ptr<plat::media::MoviePlayerController> m_player;
    plat::foundation::Timer m_injectTimer;
};

class OrbadInteractiveVideoController : public plat::ui::ViewController {
public:
    explicit OrbadInteractiveVideoController(std::shared_ptr<OrbadAd> ad);
    ~OrbadInteractiveVideoController() override;
    const char* className() const override { return "OrbadInteractiveVideoController"; }

    OrbadInteractiveVideoView* interactiveVideoView() const { return m_interactiveVideoView.get(); }
    void play();
    void close();
    void toolbarItemTapped(int index);
    void openBrowserForURL(const std::string& url);

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    unsigned supportedInterfaceOrientations() const override { return 1u << 3; }
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override { return orientation == 3; }

private:
    void moviePlayerPreloadFinished();
    void moviePlayerPlaybackFinished();

    std::shared_ptr<OrbadInteractiveVideoView> m_interactiveVideoView;
    std::shared_ptr<OrbadAd> m_ad;
    std::shared_ptr<const OrbadAdVideoAction> m_action;
    bool m_savedStatusBarHidden = false;
    bool m_preloading = false, m_didDismiss = false, m_hasAppeared = false, m_willAppearOnce = false;
    std::vector<plat::foundation::Observation> m_observations;
};

}  // namespace orbad
