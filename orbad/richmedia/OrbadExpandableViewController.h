// The screen an expanded rich-media ad lives in. It photographs the screen as it was, lays the
// picture behind the ad so the application seems to stay in place, and animates the ad to its
// target frame while the picture splits open above and below it and darkens (in landscape one
// whole-screen picture darkens instead); grey panels fill the sides, and the close widget shows once
// the ad covers most of the screen. A touch anywhere but the ad, or the widget, shrinks it all back
// and tells the delegate. Portrait only. Main thread only.
//
// viewDidLoad runs before the presentation takes the old screen out of the window, so the picture
// is plat::ui::snapshotKeyWindow: the key window drawn once by the compositor (GL layers included,
// overlays not), an interface in another orientation redrawn upright. Windows here turn with the
// interface, so the ad's slot converted into the controller's view is already where it showed in
// every orientation. Resizes and the closing are view animation blocks on the loop's clock; only
// the latest one's end counts, and a view of no area is covered by nothing (the widget stays
// hidden).
#pragma once

#include <cstdint>
#include <memory>

#include "orbad/ads/OrbadWidgetButtonController.h"
#include "orbad/richmedia/OrbadExpandableBackgroundView.h"
#include "platform/ui/ViewController.h"

namespace orbad {

class OrbadExpandableViewController;

// A duration of 0 or less animates for 1.0 s, one above 3.0 for 3.0 s.
inline constexpr double kOrbadExpandDefaultDuration = 1.0;
inline constexpr double kOrbadExpandMaxDuration = 3.0;
// The share of the screen's area the ad must cover for the close widget to show.
inline constexpr double kOrbadWidgetCoverage = 0.8;
// The side panels fade out this long once the ad is back in its slot.
inline constexpr double kOrbadPanelFadeDuration = 0.3;
// The name of the closing animation block (traced as "ui animation contractAnimations ...").
inline constexpr const char* kOrbadContractAnimationName = "contractAnimations";

// Told how the expanded ad goes, in this order: each resize's end, then, once closing starts, will
// close, and when the ad is back in its slot, did close.
class OrbadExpandableViewControllerDelegate {
public:
    virtual ~OrbadExpandableViewControllerDelegate() = default;
    virtual void obExpandableViewControllerDidCloseAdView(OrbadExpandableViewController& controller,
                                                         plat::ui::View& adView) = 0;
    virtual void obExpandableViewControllerWillCloseAdView(OrbadExpandableViewController& controller,
                                                          plat::ui::View& adView) = 0;
    virtual void obExpandableViewControllerDidFinishResizingAdView(OrbadExpandableViewController& controller,
                                                                  plat::ui::View& adView) = 0;
};

class OrbadExpandableViewController : public plat::ui::ViewController,
                                      private OrbadExpandableBackgroundViewDelegate,
                                      private OrbadWidgetButtonControllerDelegate {
public:
    // Made with std::make_shared, then presented (not animated); its first resize, to
    // `targetFrame` over `animationDuration` seconds, starts when it has appeared. `adView` is held:
    // a second page shown in the enlarged area has no other owner (a rich-media view that holds
    // this controller releases it when the ad has closed). A rich-media ad view is handed this
    // controller's close widget. `fromInterfaceOrientation` is the application's orientation (1-4)
    // when the ad expanded.
    OrbadExpandableViewController(std::shared_ptr<plat::ui::View> adView, const plat::ui::Rect& targetFrame,
                                  double animationDuration, int fromInterfaceOrientation);
    ~OrbadExpandableViewController() override;
    const char* className() const override { return "OrbadExpandableViewController"; }

    // Not owned: the delegate clears it (setDelegate(nullptr)) before it goes.
    OrbadExpandableViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(OrbadExpandableViewControllerDelegate* delegate) { m_delegate = delegate; }

    // ---- what the bridge's commands call ----
    // Animates the ad to `frame` (the controller's coordinates) over `duration` seconds; nothing
    // once closing has started.
    void resizeToFrame(const plat::ui::Rect& frame, double duration);
    // Shrinks the ad back to its slot over `duration` seconds, then tells the delegate it closed.
    void contractAndCloseWithDuration(double duration);
    // The same over 1.0 s (a touch on the picture, a side panel, the background, or the widget).
    void contractAndClose();
    const std::shared_ptr<OrbadWidgetButtonController>& widgetButtonController() const { return m_widget; }
    void setWidgetButtonController(std::shared_ptr<OrbadWidgetButtonController> widget);
    // From the first contractAndClose on: the controller closes once, later calls do nothing.
    bool isContracting() const { return m_contracting; }

    // ---- the ends of the animations ----
    void adViewFinishedResizing();
    void finishedContracting();

    // ---- the view controller ----
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    // Portrait only, and it never follows the device: presented over a landscape application it
    // stays in landscape until it closes.
    bool shouldAutorotateToInterfaceOrientation(int orientation) const override;
    bool shouldAutorotate() const override { return false; }
    // The scene's views are gone: the widget leaves too.
    void viewDidUnload();

    // ---- state ----
    const std::shared_ptr<plat::ui::View>& adView() const { return m_adView; }
    void setAdView(std::shared_ptr<plat::ui::View> adView) { m_adView = std::move(adView); }
    const plat::ui::Rect& targetRect() const { return m_targetRect; }
    void setTargetRect(const plat::ui::Rect& rect) { m_targetRect = rect; }
    const plat::ui::Rect& resizeFrame() const { return m_resizeFrame; }
    // Where the ad sat, in this controller's coordinates.
    const plat::ui::Rect& originalAdLocation() const { return m_originalAdLocation; }
    int fromInterfaceOrientation() const { return m_fromInterfaceOrientation; }
    bool wasStatusBarOriginallyHidden() const { return m_wasStatusBarOriginallyHidden; }
    // The scene (null until the view loads; the parts and panels of the orientation only).
    const std::shared_ptr<OrbadExpandableBackgroundView>& topView() const { return m_topView; }
    const std::shared_ptr<OrbadExpandableBackgroundView>& bottomView() const { return m_bottomView; }
    const std::shared_ptr<OrbadExpandableBackgroundView>& backingView() const { return m_backingView; }
    const std::shared_ptr<plat::ui::Button>& leftView() const { return m_leftView; }
    const std::shared_ptr<plat::ui::Button>& rightView() const { return m_rightView; }
    const std::shared_ptr<plat::ui::Button>& fullSizeControl() const { return m_fullSizeControl; }
    // The screen as it was, upright for the interface.
    const std::shared_ptr<plat::ui::Image>& screenshot() const { return m_screenshot; }

private:
    void obExpandableBackgroundViewTouched() override { contractAndClose(); }
    void widgetButtonControllerDismissTriggered(OrbadWidgetButtonController&) override { contractAndClose(); }

    std::weak_ptr<OrbadExpandableViewController> weakSelf();
    // Only the latest animation's end counts: one cut short by a later resize or by the closing
    // reports nothing.
    std::uint64_t m_animation = 0;

    OrbadExpandableViewControllerDelegate* m_delegate = nullptr;
    std::shared_ptr<plat::ui::View> m_adView;
    plat::ui::Rect m_originalAdLocation;
    std::shared_ptr<OrbadExpandableBackgroundView> m_topView, m_bottomView, m_backingView;
    std::shared_ptr<plat::ui::Button> m_leftView, m_rightView, m_fullSizeControl;
    std::shared_ptr<plat::ui::Image> m_screenshot;
    double m_initialAnimationDuration = 0;
    bool m_wasStatusBarOriginallyHidden = false;
    bool m_contracting = false;
    int m_fromInterfaceOrientation = 1;
    plat::ui::Rect m_resizeFrame;
    plat::ui::Rect m_targetRect;
    std::shared_ptr<OrbadWidgetButtonController> m_widget;
};

}  // namespace orbad
