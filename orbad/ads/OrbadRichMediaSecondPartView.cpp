#include "orbad/ads/OrbadRichMediaSecondPartView.h"

#include "orbad/ads/OBBannerHost.h"
#include "platform/ui/Application.h"

namespace orbad {

OrbadRichMediaSecondPartView::OrbadRichMediaSecondPartView(const plat::ui::Rect& frame)
    : OrbadRichMediaWebAdView(frame) {
    m_hasDisplayed = true;
}

plat::ui::ViewController* OrbadRichMediaSecondPartView::attachedViewController() const {
    auto host = mainAdView();
    return host ? host->viewController() : nullptr;
}

bool OrbadRichMediaSecondPartView::shouldStartLoad(plat::ui::WebView& webView, const plat::ui::WebRequest& request,
                                                   plat::ui::WebNavigationType type) {
    if (isNativeHandlerURL(request.url)) {
        // A script or a prefetch must not take the user to another application unasked.
        if (type == plat::ui::WebNavigationType::LinkClicked || isAutoplayable())
            if (plat::ui::Application* app = plat::ui::Application::shared()) app->openURL(request.url);
        return false;
    }
    return OrbadRichMediaWebAdView::shouldStartLoad(webView, request, type);
}

}  // namespace orbad
