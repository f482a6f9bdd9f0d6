// What a touch on an ad does: carries out the ad's action on behalf of the banner engine that
// showed it, and routes the URLs a creative opens. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orbad {

class OrbadAd;
class OrbadAdViewInternal;

class OrbadAdActionController {
public:
    // By the action's type: a preloaded URL action presents its browser, any other URL action
    // opens its URL; HTML and video actions show their screens; a rich-media action calls its
    // creative back; an overlay (and an ad without action) does nothing.
    static void openActionForAd(const std::shared_ptr<OrbadAd>& ad, OrbadAdViewInternal& adView);
    // The decoded text decides: "orbad://" anywhere (any case) goes to the publisher's delegate
    // alone; another application's scheme goes to the system when it can open it, else to the
    // in-app browser; http, https and text without a scheme go to the in-app browser.
    static void openActionURL(const std::string& url, const std::shared_ptr<OrbadAd>& ad,
                              OrbadAdViewInternal& adView, int browserStyle);
    static void openActionURL(const std::string& url, OrbadAdViewInternal& adView, int browserStyle) {
        openActionURL(url, nullptr, adView, browserStyle);
    }
    // The preloaded browser, else a new one for the action's HTML.
    static void openEmbeddedHTMLAdActionForAd(const std::shared_ptr<OrbadAd>& ad, OrbadAdViewInternal& adView);
    // The interactive video screen, presented from the ad view's controller; the take-over ends
    // when it hides.
    static void openInteractiveVideoActionForAd(const std::shared_ptr<OrbadAd>& ad, OrbadAdViewInternal& adView);
    // No pop-over class here: always the phone's road, the movie player full screen while the
    // client is inside a modal ad, until the movie finishes (which it does on every ending).
    static void openPopOverVideoActionForAd(const std::shared_ptr<OrbadAd>& ad, OrbadAdViewInternal& adView);
    static void popOverVideoiPhoneFinishedPlaying(const void* player);
    // The ad's "touch" event, then its action's "show".
    static void notifyTrackingURLsForAd(const OrbadAd* ad);

    // The text after the custom scheme's prefix, or nothing when `decoded` holds no "orbad://".
    static std::optional<std::string> customAdString(const std::string& decoded);
};

}  // namespace orbad
