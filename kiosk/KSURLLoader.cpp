#include "kiosk/KSURLLoader.h"

#include <algorithm>

#include "kiosk/KSAPIRequest.h"
#include "platform/net/Servers.h"
#include "platform/ui/Application.h"

namespace {

constexpr int kMaxAddresses = 10;

std::vector<std::shared_ptr<KSURLLoader>>& registry() {
    static std::vector<std::shared_ptr<KSURLLoader>> loaders;
    return loaders;
}

std::function<bool(const std::string&)> g_opener;

bool systemOpen(const std::string& url) {
    if (g_opener) return g_opener(url);
    plat::ui::Application* application = plat::ui::Application::shared();
    return application && application->openURL(url);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The store's web host: addresses on it, or on a host ending with it, are store pages.
bool isStoreURL(const std::string& url) {
    plat::net::ServerAddress store, address;
    if (!plat::net::parseServerAddress(plat::net::serverBase("kiosk.store"), 443, store)) return false;
    if (!plat::net::parseServerAddress(url, 80, address)) return false;
    return endsWith(address.host, store.host);
}

}  // namespace

std::shared_ptr<KSURLLoader> KSURLLoader::openDeviceURL(const std::string& url) {
    auto loader = create();
    loader->setTargetURL(url);
    loader->open();
    return loader;
}

std::vector<std::shared_ptr<KSURLLoader>> KSURLLoader::allLoaders() {
    return registry();
}

void KSURLLoader::invalidateAllLoadersWithDelegate(const KSURLLoaderDelegate* delegate) {
    std::vector<std::shared_ptr<KSURLLoader>> matching;
    for (const auto& loader : registry())
        if (loader->m_delegate == delegate) matching.push_back(loader);
    for (const auto& loader : matching) loader->invalidate();
}

void KSURLLoader::setSystemOpener(std::function<bool(const std::string& url)> opener) {
    g_opener = std::move(opener);
}

void KSURLLoader::open() {
    if (m_targetURL.empty()) return;
    std::shared_ptr<KSURLLoader> self = shared_from_this();
    kiosk::log("opening url " + m_targetURL);
    m_redirectCount = 0;
    m_requested.clear();
    {
        std::lock_guard lock(m_mutex);
        m_connection.cancel();
    }
    if (std::find(registry().begin(), registry().end(), self) == registry().end()) registry().push_back(self);
    // The first address is checked as every redirect is, before its request starts.
    if (!willSendRequest(m_targetURL)) return;
    plat::net::Request request;
    request.url = m_targetURL;
    request.ignoresBody = true;  // the first answer's head ends the load
    std::weak_ptr<KSURLLoader> weak = self;
    plat::net::ConnectionHandlers handlers;
    handlers.willRedirect = [weak](const plat::net::Request& next, const plat::net::Response&) {
        auto loader = weak.lock();
        if (!loader || !loader->willSendRequest(next.url)) return false;
        kiosk::requestStarted(next.url);
        return true;
    };
    handlers.didReceiveResponse = [weak](const plat::net::Response& response) {
        if (auto loader = weak.lock()) loader->receivedResponse(response);
    };
    handlers.didFail = [weak](const plat::net::Error& error) {
        auto loader = weak.lock();
        if (!loader) return;
        kiosk::log("failing with error: " + error.message);
        loader->fail();
    };
    kiosk::requestStarted(request.url);
    std::lock_guard lock(m_mutex);
    m_connection = plat::net::Connection::start(std::move(request), std::move(handlers));
}

bool KSURLLoader::willSendRequest(const std::string& url) {
    std::shared_ptr<KSURLLoader> self = shared_from_this();
    m_targetURL = url;
    if (isStoreURL(url)) {
        kiosk::log("detected app store URL: " + url);
        finish();
        return false;
    }
    if (std::find(m_requested.begin(), m_requested.end(), url) != m_requested.end()) {
        kiosk::log("redirect loop with URL " + url);
        fail();
        return false;
    }
    if (++m_redirectCount < kMaxAddresses) {
        m_requested.push_back(url);
        return true;
    }
    kiosk::log("max redirects with URL " + url);
    finish();
    return false;
}

void KSURLLoader::receivedResponse(const plat::net::Response& response) {
    std::shared_ptr<KSURLLoader> self = shared_from_this();
    if (response.status >= 300) {
        kiosk::log("failing with URL " + m_targetURL);
        fail();
    } else {
        kiosk::log("finishing with URL " + m_targetURL);
        finish();
    }
}

void KSURLLoader::finish() {
    std::shared_ptr<KSURLLoader> self = shared_from_this();
    if (!plat::ui::systemCanOpenURL(m_targetURL)) {
        fail();
        return;
    }
    if (m_delegate && (m_delegate->responds() & KSURLLoaderDelegate::kRespondsFinished)) m_delegate->loaderFinished(*this);
    invalidate();
    if (m_opensFinalURLOnDevice) systemOpen(m_targetURL);
}

void KSURLLoader::fail() {
    std::shared_ptr<KSURLLoader> self = shared_from_this();
    if (m_delegate && (m_delegate->responds() & KSURLLoaderDelegate::kRespondsFailed)) m_delegate->loaderFailed(*this);
    invalidate();
}

void KSURLLoader::invalidate() {
    m_delegate = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_connection.cancel();
    }
    auto& loaders = registry();
    auto at = std::find_if(loaders.begin(), loaders.end(), [this](const auto& l) { return l.get() == this; });
    if (at == loaders.end()) return;
    std::shared_ptr<KSURLLoader> last = std::move(*at);
    loaders.erase(at);
}
