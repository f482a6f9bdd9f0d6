// The icon switcher: the strip of promoted games that slides up from the bottom edge, a paged row
// of icons with captions over a dimmed area that closes it, and a close button shown after a delay.
// It tells its delegate which icons came into view, which was tapped and why it went away; it
// knows nothing of feeds or networks.
//
// Built from platform/ui's pieces: a paged ScrollView (a drag that starts on a button takes the touch
// from it), tagged tiles of an icon Button (corner radius 8, clipped, a GradientLayer gloss, a spinner
// until its icon comes) and a shadowed caption, the "moregamesbar_bg" pattern, the dimmed area and the
// close button. It is its root controller's child and lays out from its own views' layout (so a
// rotation reaches it), guarded against the frames it sets. Its two timers run on the application's
// loop: the close button after 5.0 s, and the time-out, disarmed by any dismissal (a strip off screen
// dismisses nothing). setImage may come from any thread: the change lands on a later main-loop turn
// through a weak reference. A feature text takes the first featureTextIconSpan slots (a wrapped label
// of two lines at most, never shrunk): item i sits in slot span + i, and is tagged, placed, tapped,
// reported and given its icon by that slot. The strip is its own delegate until another is set,
// answering none of the delegate's operations; its own iconSwitcher(controller, item) opens the
// item's URL when the application can ("Could not open URL." when opening fails). Traces "promo
// present COUNT", "promo dismiss REASON"; the input script's promo.* act on the strip on screen.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Image.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {
class Button;
class Label;
}  // namespace plat::ui

namespace dk::player {
// The trace category "promo": strips presented and dismissed.
plat::foundation::TraceCategory& promoTrace();
}  // namespace dk::player

// One promoted game. Changed on the main thread only.
struct DKIconSwitcherItem {
    std::optional<std::string> caption;
    std::shared_ptr<plat::ui::Image> image;  // null until loaded
    std::optional<std::string> targetURL;
};
using DKIconSwitcherItems = std::vector<std::shared_ptr<DKIconSwitcherItem>>;

class DKIconSwitcherViewController;

// Every operation optional.
class DKIconSwitcherViewControllerDelegate {
public:
    virtual ~DKIconSwitcherViewControllerDelegate() = default;
    virtual void iconSwitcherDidDismiss(DKIconSwitcherViewController&, unsigned /*reason*/) {}
    virtual void iconSwitcher(DKIconSwitcherViewController&, const DKIconSwitcherItem&, unsigned /*slot*/,
                              unsigned /*page*/) {}
    virtual void iconsDidDisplay(const DKIconSwitcherItems&, unsigned /*startingSlot*/, unsigned /*page*/) {}
};

// The bar: it lays its controller out whenever it lays itself out.
class DKIconSwitcherView : public plat::ui::View {
public:
    using View::View;
    const char* className() const override { return "DKIconSwitcherView"; }
    DKIconSwitcherViewController* controller() const { return m_controller; }
    void setController(DKIconSwitcherViewController* controller) { m_controller = controller; }
    void layoutSubviews() override;

private:
    DKIconSwitcherViewController* m_controller = nullptr;  // not owned
};

// Its own delegate until another is set: it answers none of the delegate's operations, and has a
// tap handler of its own that opens the item's page.
class DKIconSwitcherViewController : public plat::ui::ViewController,
                                     public plat::ui::ScrollViewDelegate,
                                     public DKIconSwitcherViewControllerDelegate {
public:
    enum DismissalReason : unsigned { kDismissCloseButton = 0, kDismissDimmedArea = 1, kDismissTimeout = 2 };
    // The close button shows this long after presenting, whatever intervalForDismissalButton was.
    static constexpr double kDismissalButtonInterval = 5.0;

    // initWithItems: the interface built, invisible until presented. Main thread.
    static std::shared_ptr<DKIconSwitcherViewController> create(DKIconSwitcherItems items);
    explicit DKIconSwitcherViewController(plat::foundation::RunLoop& loop);
    ~DKIconSwitcherViewController() override;
    const char* className() const override { return "DKIconSwitcherViewController"; }

    const DKIconSwitcherItems& items() const { return m_items; }
    // The same items change nothing; others rebuild the interface.
    void setItems(DKIconSwitcherItems items);

    // Not owned: held weakly, so a delegate that has gone hears nothing.
    std::shared_ptr<DKIconSwitcherViewControllerDelegate> iconSwitcherDelegate() const { return m_delegate.lock(); }
    void setIconSwitcherDelegate(std::weak_ptr<DKIconSwitcherViewControllerDelegate> delegate) {
        m_delegate = std::move(delegate);
    }

    // A text in the first `featureTextIconSpan` slots of the row, before the icons: item i sits in
    // slot span + i, and is tagged, placed, tapped and reported by that slot. A new span rebuilds
    // the row; a new text shows at the next layout.
    const std::optional<std::string>& featureText() const { return m_featureText; }
    void setFeatureText(std::optional<std::string> text);
    unsigned featureTextIconSpan() const { return m_featureTextIconSpan; }
    void setFeatureTextIconSpan(unsigned span);

    unsigned currentPage() const { return m_currentPage; }
    unsigned iconsPerPage() const { return m_iconsPerPage; }
    double intervalForAutomaticDismissal() const { return m_intervalForAutomaticDismissal; }
    void setIntervalForAutomaticDismissal(double seconds) { m_intervalForAutomaticDismissal = seconds; }
    double intervalForDismissalButton() const { return m_intervalForDismissalButton; }
    void setIntervalForDismissalButton(double seconds) { m_intervalForDismissalButton = seconds; }

    // Over the key window's root controller, as its child, sliding up (the style is not looked
    // at). Traced "promo present COUNT".
    void presentWithStyle(int style);
    void presentView(bool animated);
    // Off screen, the delegate told the reason; traced "promo dismiss REASON". Nothing once the
    // strip is no longer on screen, so a late time-out does nothing.
    void dismissWithReason(unsigned reason);
    void dismissButtonPressed() { dismissWithReason(kDismissCloseButton); }
    void invisibleDismissButtonPressed() { dismissWithReason(kDismissDimmedArea); }
    // Presented and not yet dismissed.
    bool isOnScreen() const { return m_onScreen; }

    // Any thread: the item's image and its button change on the main thread, on a later turn when
    // called from another (nothing when the strip has gone by then, or for an index out of range).
    void setImage(std::shared_ptr<plat::ui::Image> image, size_t index);

    // Asks the delegate's four-argument operation only: taps never reach the handler below.
    void buttonPressed(plat::ui::Button& button);
    // Opens the item's target URL when the system can, logging "Could not open URL." when opening
    // fails.
    using DKIconSwitcherViewControllerDelegate::iconSwitcher;
    void iconSwitcher(DKIconSwitcherViewController& controller, const DKIconSwitcherItem& item);
    void iconsDidDisplayWithStartingSlot(unsigned start, unsigned count);
    void scrollViewDidEndDecelerating(plat::ui::ScrollView& scrollView) override;
    void viewWillLayoutSubviews();
    void didRotate() { viewWillLayoutSubviews(); }

    // Geometry: R is the key window's root controller's view's bounds (zero without one).
    plat::ui::Rect entireScreenRect() const;
    plat::ui::Rect offscreenRectForCurrentState() const;
    plat::ui::Rect appropriateRectForCurrentState() const;
    double deviceSpecificHeight() const;
    double adjustedYOrigin() const;

    bool shouldAutorotate() const override { return true; }
    unsigned supportedInterfaceOrientations() const override { return 0x1E; }
    bool shouldAutorotateToInterfaceOrientation(int) const override { return true; }
    void loadView() override;

    // The parts, for the driver's commands and for tests.
    DKIconSwitcherView* bar() const { return m_containerForScrollView.get(); }
    plat::ui::ScrollView* scrollView() const { return m_scrollView.get(); }
    plat::ui::Button* closeButton() const { return m_visibleDismissButton.get(); }
    plat::ui::Button* dimmedArea() const { return m_invisibleDismissButton.get(); }
    plat::ui::Button* iconButton(unsigned slot) const;
    plat::ui::Label* textLabel() const { return m_textLabel.get(); }

    // The strip on screen now, if any (the input script's promo.* commands act on it).
    static std::shared_ptr<DKIconSwitcherViewController> onScreen();
    // Registers promo.page, promo.tap, promo.close and promo.dim with the input script.
    static void registerInputCommands();

private:
    void setupInterface();
    void showDismissalButton();
    void removeCurrentViewController();
    void notifyDelegateDismiss(unsigned reason);
    void dismissAnimationStopped(bool finished);
    void setButtonImage(const std::shared_ptr<plat::ui::Image>& image, size_t index);
    // Slots hold the text's span, then the items.
    unsigned slotCount() const { return m_featureTextIconSpan + static_cast<unsigned>(m_items.size()); }

    plat::foundation::RunLoop& m_loop;
    DKIconSwitcherItems m_items;
    std::weak_ptr<DKIconSwitcherViewControllerDelegate> m_delegate;
    std::shared_ptr<DKIconSwitcherView> m_containerForScrollView;
    std::shared_ptr<plat::ui::ScrollView> m_scrollView;
    std::shared_ptr<plat::ui::Label> m_textLabel;
    std::shared_ptr<plat::ui::Button> m_invisibleDismissButton;
    std::shared_ptr<plat::ui::Button> m_visibleDismissButton;
    std::optional<std::string> m_featureText;
    unsigned m_featureTextIconSpan = 0;
    plat::foundation::Timer m_automaticDismissal;
    plat::foundation::Timer m_dismissalButtonTimer;
    unsigned m_currentPage = 0;
    unsigned m_iconsPerPage = 0;
    double m_intervalForAutomaticDismissal = 0;
    double m_intervalForDismissalButton = 0;
    bool m_dismissalIntervalHasPassed = false;
    bool m_dismissButtonPresentationIntervalHasPassed = false;
    bool m_onScreen = false;
    bool m_layingOut = false;
};
