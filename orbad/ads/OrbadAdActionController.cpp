#include "orbad/ads/OrbadAdActionController.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "orbad/ads/OBBannerHost.h"
#include "orbad/ads/OBBrowserViewController.h"
#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdAction.h"
#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/ads/OrbadInteractiveVideoController.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MoviePlayer.h"
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

// The phone videos playing, kept until they finish.
struct PlayingVideo {
    std::shared_ptr<plat::media::MoviePlayerController> player;
    plat::foundation::Observation finished;
};
std::map<const void*, PlayingVideo>& playingVideos() {
    static std::map<const void*, PlayingVideo> videos;
    return videos;
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
        if (urlAction.shouldPreload() && urlAction.preloadedBrowserViewController()) {
            notifyTrackingURLsForAd(ad.get());
            adView.cancelScheduledGetAd();
            adView.openBrowser(urlAction.preloadedBrowserViewController());
            return;
        }
        openActionURL(urlAction.actionURL().value_or(""), ad, adView, urlAction.browserStyle());
        return;
    }
    case kOrbadAdActionHTML:
        openEmbeddedHTMLAdActionForAd(ad, adView);
        return;
    case kOrbadAdActionVideo:
        openInteractiveVideoActionForAd(ad, adView);
        return;
    case kOrbadAdActionPopupVideo:
        openPopOverVideoActionForAd(ad, adView);
        return;
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

void OrbadAdActionController::openEmbeddedHTMLAdActionForAd(const std::shared_ptr<OrbadAd>& ad,
                                                             OrbadAdViewInternal& adView) {
    notifyTrackingURLsForAd(ad.get());
    adView.cancelScheduledGetAd();
    auto& action = static_cast<OrbadAdEmbeddedHTMLAction&>(*ad->action());
    std::shared_ptr<OBBrowserViewController> browser = action.preloadedBrowserViewController();
    if (!browser) {
        browser = OBBrowserViewController::withHTML(action.embeddedHTML().value_or(""), action.baseURL(),
                                                    action.browserStyle());
        browser->setAutoDismissOnResignActive(true);
    }
    adView.openBrowser(browser);
}

void OrbadAdActionController::openInteractiveVideoActionForAd(const std::shared_ptr<OrbadAd>& ad,
                                                               OrbadAdViewInternal& adView) {
    notifyTrackingURLsForAd(ad.get());
    adView.cancelScheduledGetAd();
    auto controller = std::make_shared<OrbadInteractiveVideoController>(ad);
    adView.willTouchThroughWithObject(controller.get(), kOBVideoPlayerDidHide);
    if (plat::ui::ViewController* presenter = adView.viewController()) presenter->presentViewController(controller, true);
}

void OrbadAdActionController::openPopOverVideoActionForAd(const std::shared_ptr<OrbadAd>& ad,
                                                           OrbadAdViewInternal& adView) {
    notifyTrackingURLsForAd(ad.get());
    const auto& action = static_cast<const OrbadAdPopupVideoAction&>(*ad->action());
    auto player = plat::media::MoviePlayerController::create(action.videoURL().value_or(""));
    player->setUseApplicationAudioSession(false);
    plat::foundation::NotificationCenter& center = plat::foundation::NotificationCenter::defaultCenter();
    const void* key = player.get();
    center.post(kOBVideoPlayerWillShow, {key, "MPMoviePlayerController"});
    adView.willTouchThroughWithObject(key, plat::media::kMoviePlayerPlaybackDidFinishNotification);
    PlayingVideo& playing = playingVideos()[key];
    playing.player = player;
    playing.finished = center.observe(plat::media::kMoviePlayerPlaybackDidFinishNotification, key,
                                      [key](const auto&) { popOverVideoiPhoneFinishedPlaying(key); });
    player->play();
    if (auto host = bannerHost()) host->setInModalAd(true);
}

void OrbadAdActionController::popOverVideoiPhoneFinishedPlaying(const void* player) {
    auto it = playingVideos().find(player);
    if (it == playingVideos().end()) return;
    PlayingVideo video = std::move(it->second);
    playingVideos().erase(it);
    if (auto host = bannerHost()) host->setInModalAd(false);
    video.finished.remove();
    plat::foundation::NotificationCenter::defaultCenter().post(kOBVideoPlayerDidHide, {player, "MPMoviePlayerController"});
    // Released on a later turn: the player is still posting its finish.
    plat::foundation::RunLoop::main().perform([keep = std::move(video.player)] {});
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
