#include "player/plugins/DKDrovikNetworkSupport.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "analytics/TrackwellSession.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/sys/AtomicFile.h"
#include "platform/sys/Device.h"
#include "platform/sys/Random.h"
#include "platform/ui/Application.h"

using plat::foundation::Value;

namespace {

constexpr const char* kProvider = "drovikNetwork";
constexpr const char* kCacheFolder = "DrovikNetworkCache";
constexpr const char* kFeedCacheFile = "ads.json";
// Where a referral stops: a URL of this server's host (or a host ending with it). The phone
// store's web address unless DROVIK_SERVERS names another.
constexpr const char* kStoreServer = "promo.store";
constexpr const char* kStoreFallback = "https://itunes.apple.com";
// Redirects a referral follows at most.
constexpr int kMaxReferralHops = 20;

plat::foundation::RunLoop& mainLoop() {
    plat::ui::Application* app = plat::ui::Application::shared();
    return app ? app->runLoop() : plat::foundation::RunLoop::main();
}

using plat::foundation::Bundle;

const std::string* feedString(const Value& dictionary, const char* key) {
    const Value* value = dictionary.find(key);
    return value ? value->string() : nullptr;
}
// The feed's numbers are texts: their leading number, whatever the locale.
double feedNumber(const std::optional<Value>& feed, const char* key) {
    const Value* value = feed ? feed->find(key) : nullptr;
    return value ? value->doubleValue() : 0.0;
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The platform's loader would read file:// and the like: only the web is fetched.
bool isWebURL(const std::string& url) {
    const std::string start = lower(url.substr(0, 8));
    return start.starts_with("http://") || start.starts_with("https://");
}

// The host of an absolute URL, without user, port or brackets; empty when there is none.
std::string hostOf(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return {};
    const size_t start = scheme + 3;
    std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (authority.starts_with("[")) return lower(authority.substr(1, authority.find(']') - 1));
    return lower(authority.substr(0, authority.find(':')));
}

// The URL's path as written.
std::string pathOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : url.find('/', start + 3);
    if (start == std::string::npos) return {};
    return url.substr(start, url.find_first_of("?#", start) - start);
}

std::string percentDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The feed names the file: one the file system refuses (too long, say) is simply not cached.
bool isCached(const std::string& path) {
    std::error_code refused;
    return std::filesystem::exists(path, refused);
}

}  // namespace

// One referral being followed: its connection and the last URL that answered with a redirect.
struct DKDrovikNetworkSupport::Referral {
    plat::net::Connection connection;
    std::string lastRedirectingURL;
    int hops = 0;
    bool done = false;
};

DKDrovikNetworkSupport::DKDrovikNetworkSupport(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController) {
    m_platformSpecificTargetURLTagName =
        plat::sys::Device::current().userInterfaceIdiom() == plat::sys::kUserInterfaceIdiomPad ? "ipad_url"
                                                                                                 : "iphone_url";
    if (const Bundle* bundle = Bundle::main())
        if (auto path = bundle->pathForResource("tamble_logo", "png"))
            m_defaultIconImage = plat::ui::Image::fromFile(*path);
    m_adServerDomain = Bundle::mainInfoString("DKAdServerDomain");
    m_startupProvider = Bundle::mainInfoString("StartupProvider");
    m_moregamesProvider = Bundle::mainInfoString("MoregamesProvider");
    m_available = Bundle::mainInfoValue("StartupProvider") && Bundle::mainInfoValue("DKAdServerDomain");
    DKIconSwitcherViewController::registerInputCommands();
    // Without a server there is no feed to ask for (a request to no host would only fail, and say
    // so on every run of every game that has no promotion).
    if (Bundle::mainInfoValue("DKAdServerDomain")) updateAdsFromServer();
}

DKDrovikNetworkSupport::~DKDrovikNetworkSupport() {
    if (m_moreGamesVC) m_moreGamesVC->setIconSwitcherDelegate({});
}

namespace {
plat::net::Request feedRequest(const std::string& domain) {
    plat::net::Request request;
    request.url = "http://" + domain + "/v1/more_games.json";
    request.method = "GET";
    request.timeout = 60;
    plat::net::setHeader(request.headers, "Content-Type", "application/x-www-form-urlencoded");
    return request;
}
}  // namespace

void DKDrovikNetworkSupport::updateAdsFromServer() {
    initiateDownloadConnectionWithURLRequest(feedRequest(m_adServerDomain));
}

void DKDrovikNetworkSupport::initiateDownloadConnectionWithURLRequest(plat::net::Request request) {
    // A new request replaces the one in flight, whose callbacks then never come.
    plat::net::ConnectionHandlers handlers;
    handlers.didReceiveResponse = [this](const plat::net::Response& response) {
        m_responseData.clear();
        m_responseStatus = response.status;
    };
    handlers.didReceiveData = [this](const std::uint8_t* data, std::size_t size) {
        m_responseData.insert(m_responseData.end(), data, data + size);
    };
    handlers.didFinish = [this] { feedFinished(); };
    handlers.didFail = [this](const plat::net::Error&) { feedFailed(); };
    m_responseData.clear();
    m_responseStatus = 0;
    m_adDataDownloadConnection = plat::net::Connection::start(std::move(request), std::move(handlers), &mainLoop());
}

void DKDrovikNetworkSupport::feedFailed() {
    m_responseData.clear();
    plat::foundation::log("Drovik Network: connection failure.");
    m_needsAdDataOnLaunch = false;
}

void DKDrovikNetworkSupport::feedFinished() {
    // An error page is no feed, even one that parses: the cache stays as it was.
    if (m_responseStatus < 200 || m_responseStatus > 299) {
        feedFailed();
        return;
    }
    parseServerData();
    if (m_needsAdDataOnLaunch) {
        showMoreGamesAndPause(false);
        m_needsAdDataOnLaunch = false;
    }
    m_responseData.clear();
}

void DKDrovikNetworkSupport::parseServerData() {
    m_adData.reset();
    m_adData = m_dataParser.decodeResponse(m_responseData);
    if (!m_adData)
        plat::foundation::log("Drovik Network: Unexpected server response format.");
    else
        saveFeedToCache();
}

std::string DKDrovikNetworkSupport::adCacheDirectory() const {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    if (!container) return {};
    return container->path() + "/Library/Caches/" + kCacheFolder;
}

void DKDrovikNetworkSupport::saveFeedToCache() {
    const std::string directory = adCacheDirectory();
    if (!m_adData || directory.empty()) return;
    plat::foundation::makeDirectories(directory);
    plat::foundation::writePropertyList(directory + "/" + kFeedCacheFile, *m_adData,
                                        plat::foundation::PropertyListFormat::Xml);
}

void DKDrovikNetworkSupport::restoreFeedFromCache() {
    const std::string directory = adCacheDirectory();
    if (directory.empty()) return;
    const std::string path = directory + "/" + kFeedCacheFile;
    std::error_code missing;
    if (!std::filesystem::exists(path, missing)) return;
    std::optional<Value> feed = plat::foundation::readPropertyList(path);
    if (feed && feed->dictionary() && !feed->dictionary()->empty()) m_adData = std::move(feed);
}

void DKDrovikNetworkSupport::showMoreGamesOnStartup() {
    if (m_startupProvider != kProvider || !m_available) return;
    restoreFeedFromCache();
    if (m_adData)
        showMoreGamesAndPause(false);
    else
        m_needsAdDataOnLaunch = true;
}

void DKDrovikNetworkSupport::showMoreGames(DKGameViewController*) {
    restoreFeedFromCache();
    if (m_moregamesProvider != kProvider || !m_available) return;
    // The fresh feed is for next time: its request is built away from the main thread, and the
    // plugin is touched only back there (a block must never hold its last reference).
    std::weak_ptr<DKPluginSupport> weak = weak_from_this();
    plat::foundation::RunLoop* loop = &mainLoop();
    plat::foundation::Queue::global().async([weak, loop, domain = m_adServerDomain] {
        loop->perform([weak, request = feedRequest(domain)]() mutable {
            if (auto self = std::static_pointer_cast<DKDrovikNetworkSupport>(weak.lock()))
                self->initiateDownloadConnectionWithURLRequest(std::move(request));
        });
    });
    showMoreGamesAndPause(true);
}

void DKDrovikNetworkSupport::showMoreGamesAndPause(bool pause) {
    if (m_moreGamesVC && m_moreGamesVC->parentViewController()) return;
    const std::uint32_t r = plat::sys::randomUniform(100);
    if (static_cast<float>(r) > static_cast<float>(feedNumber(m_adData, "throttle_pct"))) return;
    // The strip first: without one nothing pauses and nothing counts as shown.
    if (!populateUI()) return;
    if (pause) pauseGame(false);
    m_stripPaused = pause;
    m_moreGamesVC->presentWithStyle(1);
    TrackwellSession::sharedTrackwellSession().tagEvent("adShown", {{"p", std::string(kProvider)}});
}

bool DKDrovikNetworkSupport::populateUI() {
    const Value* ads = m_adData ? m_adData->find("ads") : nullptr;
    if (!ads || !ads->array() || ads->array()->empty()) {
        plat::foundation::log("Drovik Network: game data is corrupt or not present.");
        return false;
    }
    const std::string directory = adCacheDirectory();
    DKIconSwitcherItems items;
    std::vector<size_t> useDefault;
    std::vector<std::pair<size_t, std::string>> downloads;  // index, URL
    for (const Value& ad : *ads->array()) {
        auto item = std::make_shared<DKIconSwitcherItem>();
        if (const std::string* name = feedString(ad, "name")) item->caption = *name;
        if (const std::string* target = feedString(ad, m_platformSpecificTargetURLTagName.c_str()))
            item->targetURL = *target;
        const size_t index = items.size();
        const std::string* icon = feedString(ad, "icon_url");
        if (!icon || icon->empty() || !isWebURL(*icon)) {
            item->image = m_defaultIconImage;
            if (!m_defaultIconImage) useDefault.push_back(index);
        } else if (const std::string name = iconCacheName(*icon);
                   !name.empty() && !directory.empty() && isCached(directory + "/" + name)) {
            item->image = plat::ui::Image::fromFile(directory + "/" + name);
        } else {
            downloads.emplace_back(index, *icon);
        }
        items.push_back(std::move(item));
    }
    if (m_moreGamesVC) m_moreGamesVC->setIconSwitcherDelegate({});
    m_moreGamesVC = DKIconSwitcherViewController::create(std::move(items));
    m_moreGamesVC->setIconSwitcherDelegate(
        std::dynamic_pointer_cast<DKIconSwitcherViewControllerDelegate>(shared_from_this()));
    m_moreGamesVC->setIntervalForDismissalButton(feedNumber(m_adData, "more_games_display_exit_delay"));
    m_moreGamesVC->setIntervalForAutomaticDismissal(feedNumber(m_adData, "more_games_display_duration"));
    // No default icon to show: an empty black button rather than a spinner that never stops.
    for (size_t index : useDefault) m_moreGamesVC->setImage(nullptr, index);
    for (const auto& [index, url] : downloads) {
        const std::string name = iconCacheName(url);
        downloadIcon(url, name.empty() || directory.empty() ? std::string() : directory + "/" + name, index);
    }
    return true;
}

std::string DKDrovikNetworkSupport::iconCacheName(const std::string& iconURL) {
    // The last component as the platform gives it: split where the URL has slashes, trailing ones
    // dropped (the root is "/"), then unescaped, so "%2F" and "%2E%2E" survive to be refused.
    std::string path = pathOf(iconURL);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (const size_t slash = path.rfind('/'); slash != std::string::npos && path.size() > 1) path.erase(0, slash + 1);
    const std::string name = percentDecoded(path);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return {};
    return name;
}

void DKDrovikNetworkSupport::downloadIcon(const std::string& url, const std::string& cachePath, size_t index) {
    // The block holds the strip and the plugin weakly: either may be gone when it ends.
    std::weak_ptr<DKIconSwitcherViewController> strip = m_moreGamesVC;
    std::weak_ptr<DKPluginSupport> plugin = weak_from_this();
    plat::foundation::RunLoop* loop = &mainLoop();
    plat::foundation::Queue::global().async([strip, plugin, loop, url, cachePath, index] {
        plat::net::Request request;
        request.url = url;
        const plat::net::SyncResult result = plat::net::sendSynchronous(request);
        std::shared_ptr<plat::ui::Image> image;
        const bool ok = !result.error && result.response && result.response->status >= 200 &&
                        result.response->status <= 299;
        if (ok) image = plat::ui::Image::fromData(result.data.data(), result.data.size(), url);
        if (image && !cachePath.empty()) {
            plat::foundation::makeDirectories(std::filesystem::path(cachePath).parent_path().string());
            plat::sys::writeFileAtomically(
                cachePath, std::string_view(reinterpret_cast<const char*>(result.data.data()), result.data.size()));
        }
        loop->perform([strip, plugin, image, index] {
            auto shown = strip.lock();
            if (!shown) return;
            std::shared_ptr<plat::ui::Image> icon = image;
            if (!icon)
                if (auto self = std::static_pointer_cast<DKDrovikNetworkSupport>(plugin.lock()))
                    icon = self->m_defaultIconImage;
            shown->setImage(icon, index);
        });
    });
}

void DKDrovikNetworkSupport::iconsDidDisplay(const DKIconSwitcherItems& items, unsigned startingSlot, unsigned page) {
    for (size_t k = 0; k < items.size(); ++k)
        sendIconAnalytics(*items[k], startingSlot + static_cast<unsigned>(k), page, 0);
}

void DKDrovikNetworkSupport::iconSwitcher(DKIconSwitcherViewController&, const DKIconSwitcherItem& item,
                                          unsigned slot, unsigned page) {
    plat::ui::Application* app = plat::ui::Application::shared();
    if (!app || !item.targetURL || !app->canOpenURL(*item.targetURL)) return;
    openReferralURL(*item.targetURL);
    sendIconAnalytics(item, slot, page, 1);
}

void DKDrovikNetworkSupport::iconSwitcherDidDismiss(DKIconSwitcherViewController& strip, unsigned reason) {
    if (reason == DKIconSwitcherViewController::kDismissTimeout)
        TrackwellSession::sharedTrackwellSession().tagEvent("adClosed", {{"p", std::string(kProvider)}});
    else if (reason <= DKIconSwitcherViewController::kDismissDimmedArea)
        TrackwellSession::sharedTrackwellSession().tagEvent("adCancelled", {{"p", std::string(kProvider)}});
    // Only the strip shown now is let go, and the game resumes only from a pause it took.
    if (m_moreGamesVC.get() != &strip) return;
    m_moreGamesVC->setIconSwitcherDelegate({});
    // Released on a later turn: the strip is still in its own dismissal.
    std::shared_ptr<DKIconSwitcherViewController> released = std::move(m_moreGamesVC);
    mainLoop().perform([released] {});
    if (m_stripPaused) {
        m_stripPaused = false;
        resumeGame();
    }
}

void DKDrovikNetworkSupport::sendIconAnalytics(const DKIconSwitcherItem& item, unsigned slot, unsigned page,
                                               unsigned reason) {
    TrackwellSession::Attributes attributes;
    attributes.emplace("p", std::string(kProvider));
    attributes.emplace("page", static_cast<double>(page));
    attributes.emplace("slot", static_cast<double>(slot));
    if (item.caption) {
        attributes.emplace("caption", *item.caption);
        if (item.targetURL) attributes.emplace("url", *item.targetURL);
    }
    TrackwellSession::sharedTrackwellSession().tagEvent(reason == 0 ? "adContentShown" : "adContentSelected",
                                                        attributes);
}

void DKDrovikNetworkSupport::openReferralURL(const std::string& url) {
    std::erase_if(m_referrals, [](const std::unique_ptr<Referral>& r) { return r->done; });
    if (!isWebURL(url)) return;
    m_referrals.push_back(std::make_unique<Referral>());
    Referral* referral = m_referrals.back().get();
    const std::string storeHost = hostOf(plat::net::serverBase(kStoreServer, kStoreFallback));
    // Opens the last URL that answered with a redirect (none: nothing) and ends the referral.
    auto finish = [this, referral] {
        if (referral->done) return;
        referral->done = true;
        if (referral->lastRedirectingURL.empty()) return;
        if (plat::ui::Application* app = plat::ui::Application::shared()) app->openURL(referral->lastRedirectingURL);
    };
    plat::net::ConnectionHandlers handlers;
    handlers.willRedirect = [this, referral, storeHost, finish](const plat::net::Request& next,
                                                                const plat::net::Response& redirect) {
        referral->lastRedirectingURL = redirect.url;
        m_iTunesURL = redirect.url;
        const std::string host = hostOf(redirect.url);
        const bool atStore = !storeHost.empty() && host.size() >= storeHost.size() &&
                             host.compare(host.size() - storeHost.size(), storeHost.size(), storeHost) == 0;
        if (atStore || ++referral->hops >= kMaxReferralHops || !isWebURL(next.url)) {
            referral->connection.cancel();
            finish();
            return false;
        }
        return true;
    };
    handlers.didFinish = finish;
    handlers.didFail = [referral](const plat::net::Error&) { referral->done = true; };
    plat::net::Request request;
    request.url = url;
    referral->connection = plat::net::Connection::start(std::move(request), std::move(handlers), &mainLoop());
}
