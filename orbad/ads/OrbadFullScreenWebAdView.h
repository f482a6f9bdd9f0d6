// The HTML creative of the full-screen ad: a rich-media view that behaves as an expanded ad, drives
// the toolbar of the controller around it, lets the page choose the close widget instead of the
// toolbar by a meta tag, and hands links of the configuration's native handlers to the system.
// Main thread only.
//
// Never pooled, always counted as expanded, and it scrolls. The meta tag "OrbadUseWidgetStyle" is
// read with the platform's text-to-truth rule (Value::boolValue; no tag reads as ""). A link of a
// native handler never loads: it opens the other application only on a user's click or once the ad
// may act by itself (autoplay allowed and on screen, which the full-screen controller always
// allows); a page's script or a prefetch gets a plain refusal.
#pragma once

#include <memory>
#include <string>

#include "orbad/ads/OrbadRichMediaWebAdView.h"

namespace orbad {

// The page's choice: content that reads as true shows the close widget instead of the toolbar.
inline constexpr const char* kOrbadWidgetStyleScript =
    "document.querySelectorAll('meta[name=OrbadUseWidgetStyle]')[0].content";

// What the full-screen web view tells the controller that shows it (its toolbar and close widget).
class OrbadFullScreenWebAdToolbarDelegate {
public:
    virtual ~OrbadFullScreenWebAdToolbarDelegate() = default;
    virtual void fullscreenWebAdViewShouldShowToolbar() = 0;
    virtual void fullscreenWebAdShouldUpdateToolbar() = 0;
    virtual void fullscreenWebAdViewCanHideToolbar() = 0;
    virtual void fullWebAdViewIsLoading(bool loading) = 0;
    virtual void fullWebAdViewCanAllowOpenInSafari(bool allow) = 0;
};

class OrbadFullScreenWebAdView : public OrbadRichMediaWebAdView {
public:
    explicit OrbadFullScreenWebAdView(const plat::ui::Rect& frame);
    ~OrbadFullScreenWebAdView() override;
    const char* className() const override { return "OrbadFullScreenWebAdView"; }

    // One page per controller: never pooled.
    bool canBeReused() const override { return false; }
    bool isExpanded() const override { return true; }
    bool allowsWebViewScrolling() const override { return true; }
    // The engine's view controller: screens the page opens are presented from it.
    plat::ui::ViewController* attachedViewController() const override;

    // Held weakly: a late toolbar update after the controller has gone reaches nobody.
    void setToolbarDelegate(std::weak_ptr<OrbadFullScreenWebAdToolbarDelegate> delegate) {
        m_toolbarDelegate = std::move(delegate);
    }
    std::shared_ptr<OrbadFullScreenWebAdToolbarDelegate> toolbarDelegate() const { return m_toolbarDelegate.lock(); }

    // No meta tag, or content that does not read as true: the toolbar.
    bool needsToolbar();
    // The toolbar or the widget, the loading state and whether the page is a local file.
    void updateToolbar();

protected:
    bool shouldStartLoad(plat::ui::WebView& webView, const plat::ui::WebRequest& request,
                         plat::ui::WebNavigationType type) override;
    void didStartLoad(plat::ui::WebView& webView) override;
    void didFinishLoad(plat::ui::WebView& webView) override;

private:
    std::weak_ptr<OrbadFullScreenWebAdToolbarDelegate> m_toolbarDelegate;
};

}  // namespace orbad
