#include "orbad/ads/OrbadAdActionController.h"

#include <algorithm>
#include <cctype>

#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdAction.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/ui/Application.h"

namespace orbad {

namespace {

constexpr std::string_view kCustomScheme = "orbad://";

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

void OrbadAdActionController::notifyTrackingURLsForAd(const OrbadAd* ad) {
    if (ad) orbad::notifyTrackingURLsForAd(*ad);
}

std::optional<std::string> OrbadAdActionController::customAdString(const std::string& decoded) {
    const size_t at = lowered(decoded).find(kCustomScheme);
    if (at == std::string::npos) return std::nullopt;
    return decoded.substr(at + kCustomScheme.size());
}

void OrbadAdActionController::openActionForAd(const std::shared_ptr<OrbadAd>& ad, OrbadAdViewInternal& adView) {
    if (!ad || !ad->action()) return;
    OrbadAdAction& action = *ad->action();
    switch (action.type()) {
    case kOrbadAdActionURL: {
        auto& urlAction = static_cast<OrbadAdURLAction&>(action);
        openActionURL(urlAction.actionURL().value_or(""), ad, adView, urlAction.browserStyle());
        return;
    }
    case kOrbadAdActionRichMedia: {
        notifyTrackingURLsForAd(ad.get());
        adView.cancelScheduledGetAd();
        static_cast<OrbadAdRichMediaAction&>(action).callRichMedia();
        return;
    }
    default:
        return;
    }
}

void OrbadAdActionController::openActionURL(const std::string& url, const std::shared_ptr<OrbadAd>& ad,
                                            OrbadAdViewInternal& adView, int browserStyle) {
    const std::shared_ptr<plat::ui::View> keep = adView.shared_from_this();
    const std::string decoded = obURLDecodedString(url);
    notifyTrackingURLsForAd(ad.get());
    adView.cancelScheduledGetAd();

    if (const std::optional<std::string> custom = customAdString(decoded)) {
        OrbadAdViewDelegate* delegate = adView.delegate();
        if (delegate && delegate->answers(OrbadAdViewDelegate::Op::adViewDidTouchCustomAdWithString))
            delegate->adViewDidTouchCustomAdWithString(adView.externalAdView(), *custom);
        return;
    }
    const std::string lower = lowered(decoded);
    if (decoded.find("://") != std::string::npos && !lower.starts_with("http://") &&
        !lower.starts_with("https://")) {
        plat::ui::Application* app = plat::ui::Application::shared();
        const bool canOpen = app ? app->canOpenURL(url) : plat::ui::systemCanOpenURL(url);
        if (!canOpen) {
            adView.openURLInBrowser(url, browserStyle);
        } else if (app) {
            app->openURL(url);
        }
        return;
    }
    adView.openURLInBrowser(url, browserStyle);
}

}  // namespace orbad
