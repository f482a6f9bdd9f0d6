#include "orbad/ads/OrbadRichMediaSecondPartView.h"

#include <algorithm>
#include <cctype>

#include "orbad/ads/OBBannerHost.h"
#include "platform/ui/Application.h"

namespace orbad {

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

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
    std::vector<std::string> handlers;
    if (auto client = bannerHost()) handlers = client->nativeURLHandlers();
    const std::string url = lowered(request.url);
    for (const std::string& handler : handlers) {
        if (handler.empty() || url.find(lowered(handler)) == std::string::npos) continue;
        // A script or a prefetch must not take the user to another application unasked.
        if (type == plat::ui::WebNavigationType::LinkClicked || isAutoplayable())
            if (plat::ui::Application* app = plat::ui::Application::shared()) app->openURL(request.url);
        return false;
    }
    return OrbadRichMediaWebAdView::shouldStartLoad(webView, request, type);
}

}  // namespace orbad
