// How the full-screen ad controller and the creative it shows talk about the controller's bottom
// toolbar. The creative (the full-screen web ad view) decides from its page whether the toolbar or
// the close widget is in use and reports its loads; the controller owns both and lays them out.
#pragma once

#include <memory>

namespace orbad {

// The controller as the creative sees it. Held weakly by the creative: a delayed update may come
// after the controller has been dismissed or has gone.
class OrbadFullScreenToolbarDelegate {
public:
    virtual ~OrbadFullScreenToolbarDelegate() = default;
    virtual void fullscreenWebAdViewShouldShowToolbar() = 0;
    // Back and forward follow the page's history.
    virtual void fullscreenWebAdShouldUpdateToolbar() = 0;
    // The close widget instead of the toolbar.
    virtual void fullscreenWebAdViewCanHideToolbar() = 0;
    // The spinner in the toolbar's first slot while true.
    virtual void fullWebAdViewIsLoading(bool loading) = 0;
    virtual void fullWebAdViewCanAllowOpenInSafari(bool allow) = 0;
};

// What the controller asks of a creative that drives its toolbar, beyond what it asks of it as a
// web view (loading, history, stop) and as a rich-media view (its close widget controller). A
// creative implementing this is the full-screen web ad view, as far as the controller knows.
class OrbadFullScreenToolbarPage {
public:
    virtual ~OrbadFullScreenToolbarPage() = default;
    virtual std::shared_ptr<OrbadFullScreenToolbarDelegate> toolbarDelegate() const = 0;
    virtual void setToolbarDelegate(std::weak_ptr<OrbadFullScreenToolbarDelegate> delegate) = 0;
    // True unless the page's widget-style meta tag reads as true: the toolbar, else the widget.
    virtual bool needsToolbar() = 0;
    // Sends the delegate what the page asks of the toolbar now.
    virtual void updateToolbar() = 0;
};

}  // namespace orbad
