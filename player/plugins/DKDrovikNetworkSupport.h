// The cross-promotion feed ("drovikNetwork"): a JSON feed of promoted games from the ad server the
// Info.plist names, cached with its icons under Library/Caches/DrovikNetworkCache/, shown as the
// icon switcher's strip at start-up ("StartupProvider") and for the more-games action
// ("MoregamesProvider"). A tap follows the game's referral link to the store and opens it there.
//
// It asks for the feed at creation only when "DKAdServerDomain" is set. Only 2xx feeds are parsed and
// cached, as an XML property list ads.json. Icons download on the worker pool through
// sendSynchronous, http and https only, 2xx and decodable, cached by the last path component unless
// that names a folder; the blocks hold the strip and the plugin weakly. A strip that could not be
// made pauses nothing and tags nothing; only a strip that paused resumes. Referrals follow redirects
// through willRedirect, at most 20, to web URLs only, and stop at a URL whose host ends with the host
// of serverBase("promo.store"). The throttle draws from plat::sys::randomUniform
// (DROVIK_FIXED_RANDOM fixes it).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/net/URLLoading.h"
#include "platform/ui/Image.h"
#include "player/plugins/DKMoreGamesSupport.h"
#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/promo/DKDrovikNetworkDataParser.h"
#include "player/plugins/promo/DKIconSwitcherViewController.h"

class DKDrovikNetworkSupport : public DKPluginSupport,
                               public DKMoreGamesDelegate,
                               public DKIconSwitcherViewControllerDelegate {
public:
    // Reads the Info.plist keys and requests the feed at once.
    explicit DKDrovikNetworkSupport(DKGameViewController* gameViewController);
    ~DKDrovikNetworkSupport() override;
    static const char* pluginIdentifier() { return "drovikNetwork"; }

    // Both "StartupProvider" (any value) and "DKAdServerDomain" are in the Info.plist.
    bool isDrovikNetworkAvailable() const { return m_available; }
    // With "StartupProvider" "drovikNetwork": the cached feed's strip, unpaused; with none
    // cached, the strip of the feed requested at creation once it arrives.
    void showMoreGamesOnStartup();
    // The more-games action: the cached feed's strip, paused, and a fresh feed for next time.
    void showMoreGames(DKGameViewController* context) override;

    // A strip of the feed, unless one is up or the throttle's draw says no; the game paused (a
    // behaviour pause) only when a strip is presented, and resumed only by the dismissal of a
    // strip that paused it.
    void showMoreGamesAndPause(bool pause);
    // The feed request, run on the main loop (main thread).
    void updateAdsFromServer();
    void initiateDownloadConnectionWithURLRequest(plat::net::Request request);
    void parseServerData();
    // Makes the strip of the feed's ads (moreGamesVC); false, and none, when there are no ads.
    bool populateUI();
    // Empty without a container.
    std::string adCacheDirectory() const;
    void saveFeedToCache();
    void restoreFeedFromCache();
    // Follows the referral's redirects until a URL of the store's host answers with one; that
    // URL is opened (see the .cpp for the rules).
    void openReferralURL(const std::string& url);
    void sendIconAnalytics(const DKIconSwitcherItem& item, unsigned slot, unsigned page, unsigned reason);

    const std::optional<plat::foundation::Value>& adData() const { return m_adData; }
    const std::shared_ptr<DKIconSwitcherViewController>& moreGamesVC() const { return m_moreGamesVC; }
    const std::string& iTunesURL() const { return m_iTunesURL; }
    bool needsAdDataOnLaunch() const { return m_needsAdDataOnLaunch; }
    // The feed request is running.
    bool isLoadingFeed() const { return m_adDataDownloadConnection.isRunning(); }

    void iconSwitcherDidDismiss(DKIconSwitcherViewController& strip, unsigned reason) override;
    void iconSwitcher(DKIconSwitcherViewController& strip, const DKIconSwitcherItem& item, unsigned slot,
                      unsigned page) override;
    void iconsDidDisplay(const DKIconSwitcherItems& items, unsigned startingSlot, unsigned page) override;

    // The icon's cache file name: the last path component of its URL, or empty when that would
    // address a directory ("", ".", "..", or one holding "/").
    static std::string iconCacheName(const std::string& iconURL);

private:
    struct Referral;
    void feedFinished();
    void feedFailed();
    void downloadIcon(const std::string& url, const std::string& cachePath, size_t index);

    std::string m_iTunesURL;
    std::string m_platformSpecificTargetURLTagName;
    std::shared_ptr<plat::ui::Image> m_defaultIconImage;
    DKDrovikNetworkDataParser m_dataParser;
    std::vector<std::uint8_t> m_responseData;
    int m_responseStatus = 0;
    plat::net::Connection m_adDataDownloadConnection;
    bool m_needsAdDataOnLaunch = false;
    std::optional<plat::foundation::Value> m_adData;
    std::shared_ptr<DKIconSwitcherViewController> m_moreGamesVC;
    bool m_stripPaused = false;  // the strip up now paused the game
    std::vector<std::unique_ptr<Referral>> m_referrals;
    std::string m_adServerDomain;
    std::string m_startupProvider;
    std::string m_moregamesProvider;
    bool m_available = false;
};
