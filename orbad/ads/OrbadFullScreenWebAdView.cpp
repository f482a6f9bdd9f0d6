#include "orbad/ads/OrbadFullScreenWebAdView.h"

#include <algorithm>
#include <cctype>

#include "orbad/ads/OBBannerHost.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Application.h"

namespace orbad {

using plat::foundation::RunLoop;

namespace {

constexpr double kToolbarUpdateDelay = 0.01;

bool isFileURL(const std::string& url) {
    return url.size() >= 5 && std::equal(url.begin(), url.begin() + 5, "file:",
                                         [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

OrbadFullScreenWebAdView::OrbadFullScreenWebAdView(const plat::ui::Rect& frame) : OrbadRichMediaWebAdView(frame) {
    setScalesPageToFit(true);
    // The base switched scrolling off while it could not yet ask this view.
    setScrollEnabled(true);
}

OrbadFullScreenWebAdView::~OrbadFullScreenWebAdView() {
    RunLoop::main().cancelPerforms(this);
}

plat::ui::ViewController* OrbadFullScreenWebAdView::attachedViewController() const {
    auto host = mainAdView();
    return host ? host->viewController() : nullptr;
}

bool OrbadFullScreenWebAdView::needsToolbar() {
    // A page without the tag throws, and the evaluation answers "": the toolbar.
    return !plat::foundation::Value(stringByEvaluatingJavaScript(kOrbadWidgetStyleScript)).boolValue();
}

void OrbadFullScreenWebAdView::updateToolbar() {
    auto delegate = toolbarDelegate();
    if (!delegate) return;
    if (needsToolbar()) {
        delegate->fullscreenWebAdViewShouldShowToolbar();
        delegate->fullscreenWebAdShouldUpdateToolbar();
    } else {
        delegate->fullscreenWebAdViewCanHideToolbar();
    }
    delegate->fullWebAdViewIsLoading(isLoading());
    delegate->fullWebAdViewCanAllowOpenInSafari(isFileURL(currentURL()));
}

void OrbadFullScreenWebAdView::didStartLoad(plat::ui::WebView& webView) {
    OrbadRichMediaWebAdView::didStartLoad(webView);
    updateToolbar();
}

void OrbadFullScreenWebAdView::didFinishLoad(plat::ui::WebView& webView) {
    OrbadRichMediaWebAdView::didFinishLoad(webView);
    updateToolbar();
}

bool OrbadFullScreenWebAdView::shouldStartLoad(plat::ui::WebView& webView, const plat::ui::WebRequest& request,
                                               plat::ui::WebNavigationType type) {
    // Opening another application may end the ad (resign-active dismisses it) while we decide.
    const std::shared_ptr<plat::ui::View> hold = shared_from_this();
    if (isNativeHandlerURL(request.url)) {
        // Another application takes the user away: only for the user's own click, or an ad that
        // may act by itself (a full-screen ad on screen), never for a page's script or a prefetch.
        if (type != plat::ui::WebNavigationType::LinkClicked && !isAutoplayable()) return false;
        if (auto delegate = toolbarDelegate()) delegate->fullscreenWebAdViewShouldShowToolbar();
        if (plat::ui::Application* app = plat::ui::Application::shared()) app->openURL(request.url);
        return false;
    }
    if (!OrbadRichMediaWebAdView::shouldStartLoad(webView, request, type)) return false;
    std::weak_ptr<plat::ui::View> weak = weak_from_this();
    RunLoop::main().performAfter(kToolbarUpdateDelay, this, [weak, this] {
        if (auto self = weak.lock()) updateToolbar();
    });
    return true;
}

}  // namespace orbad
