// The close widget: a round close button laid over expanded and full-screen ads, shown and hidden
// with a fade, placed and turned inside its host, and dressed in an image the ad's page may supply
// through its meta tags. A tap asks the controller's delegate to dismiss the ad. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"

namespace orbad {

class OrbadRichMediaWebAdView;
class OrbadWidgetButtonController;

inline constexpr long kOrbadCloseIconTag = 296067;
// Sides of a page-supplied image: pictures larger than this are not decoded.
inline constexpr int kOrbadWidgetImageMaxSide = 4096;

inline constexpr const char* kOrbadOrientationsTagScript =
    "document.querySelectorAll('meta[name=MobileAdSupportedInterfaceOrientations]')[0].content";
inline constexpr const char* kOrbadImageTagScript =
    "document.querySelectorAll('meta[name=MobileAdCloseWidgetButtonImage]')[0].content";
inline constexpr const char* kOrbadImageWidthScript =
    "document.querySelectorAll('meta[name=MobileAdCloseWidgetButtonImage]')[0].getAttribute('width')";
inline constexpr const char* kOrbadImageHeightScript =
    "document.querySelectorAll('meta[name=MobileAdCloseWidgetButtonImage]')[0].getAttribute('height')";

class OrbadWidgetButtonControllerDelegate {
public:
    virtual ~OrbadWidgetButtonControllerDelegate() = default;
    virtual void widgetButtonControllerDismissTriggered(OrbadWidgetButtonController& controller) = 0;
};

class OrbadCloseWidgetButton : public plat::ui::Button {
public:
    // At the frame's origin, in the blank button's size, the cross icon inside.
    explicit OrbadCloseWidgetButton(const plat::ui::Rect& frame);
    const char* className() const override { return "OrbadCloseWidgetButton"; }

    plat::ui::ImageView& closeView() const { return *m_closeView; }
    // An image sized by `desired` (its own size when zero), each side held to 25-200 points; null:
    // the built-in look again.
    void setCustomImage(std::shared_ptr<plat::ui::Image> image, plat::ui::Size desired);
    // The cross dims to half while the button is pressed or selected.
    void setHighlighted(bool highlighted) override;
    void setSelected(bool selected) override;
    bool isAnimating() const { return m_animating; }
    void startAnimating();
    void stopAnimating();

private:
    std::shared_ptr<plat::ui::ImageView> m_closeView;
    bool m_animating = false;
};

class OrbadWidgetButtonController {
public:
    OrbadWidgetButtonController();
    ~OrbadWidgetButtonController();
    OrbadWidgetButtonController(const OrbadWidgetButtonController&) = delete;
    OrbadWidgetButtonController& operator=(const OrbadWidgetButtonController&) = delete;

    bool isLoading() const { return m_loading; }
    void setLoading(bool loading) { m_loading = loading; }
    // Not owned; the owner clears it before it goes.
    OrbadWidgetButtonControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(OrbadWidgetButtonControllerDelegate* delegate) { m_delegate = delegate; }
    const std::shared_ptr<OrbadCloseWidgetButton>& closeButton() const { return m_button; }

    // A new button in `host` (the old one removed first).
    void viewDidLoad(plat::ui::View& host);
    void viewDidUnload();
    void dismissWidget();

    // Each call, like resetButton, cancels a hide still pending from an earlier fade out.
    void setButtonVisible(bool visible, double animationDuration);
    void setButtonVisible(bool visible, bool animated) { setButtonVisible(visible, animated ? 0.3 : 0.0); }
    void setButtonVisible(bool visible) { setButtonVisible(visible, 0.0); }
    bool getButtonVisible() const;
    void hideCloseButton();
    // `point` is the top left corner asked for, held inside the superview (by bounds sizes: a
    // turned view's frame would be its bounding box); `angle` in degrees.
    void setButtonPosition(plat::ui::Point point, double angle);
    plat::ui::Point getButtonPoint() const;
    double getButtonAngle() const;
    bool supportsAutorotation();
    void buttonNeedsLayout();
    void handleCustomImage();
    void buttonImageChanged();
    void resetButton();
    static OrbadRichMediaWebAdView* findRichMediaWebView(plat::ui::View* view);

    // The page image currently applied ("" for the built-in one), and how many were decoded.
    const std::string& lastImage() const { return m_lastImage; }
    unsigned decodedImages() const { return m_decodedImages; }

private:
    // The page's answer to `script`; "" without a page.
    std::string pageText(const char* script);

    bool m_loading = false;
    OrbadWidgetButtonControllerDelegate* m_delegate = nullptr;
    std::shared_ptr<OrbadCloseWidgetButton> m_button;
    // The whole text, not a hash: two images must never pass for one another.
    std::string m_lastImage;
    plat::ui::Point m_lastPoint{0, 0};
    double m_lastAngle = 0;
    unsigned m_decodedImages = 0;
    plat::foundation::Observation m_orientation;
};

}  // namespace orbad
