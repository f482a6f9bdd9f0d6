#include "platform/web/PageEngine.h"

#include <utility>
#include <vector>

#include "platform/net/URLLoading.h"
#include "platform/web/FakeWebEngine.h"
#include "platform/web/WPEWebEngine.h"

namespace plat::web {

struct PageEngine::Fetch {
    net::Connection connection;
    std::string url;
    net::Response response;
    std::string body;
};

PageEngine::PageEngine(ui::WebEngineHost& host) : m_host(host) {}

PageEngine::~PageEngine() {
    cancelFetch();
}

bool PageEngine::fetching() const {
    return m_fetch != nullptr;
}

void PageEngine::cancelFetch() {
    if (!m_fetch) return;
    m_fetch->connection.cancel();
    m_fetch.reset();
}

std::string PageEngine::currentURL() const {
    return m_fetch ? m_fetch->url : engineURL();
}

void PageEngine::loadRequest(const ui::WebRequest& request) {
    cancelFetch();
    stopEngine();
    net::Request netRequest;
    netRequest.url = request.url;
    netRequest.timeout = request.timeout;
    if (request.cachePolicy == ui::WebCachePolicy::ReloadIgnoringCache) {
        net::setHeader(netRequest.headers, "Cache-Control", "no-cache");
        net::setHeader(netRequest.headers, "Pragma", "no-cache");
    }
    auto fetch = std::make_shared<Fetch>();
    fetch->url = request.url;
    m_fetch = fetch;
    m_host.engineDidStart();
    std::weak_ptr<Fetch> weak = fetch;
    net::ConnectionHandlers handlers;
    handlers.didReceiveResponse = [weak](const net::Response& response) {
        if (auto f = weak.lock()) f->response = response;
    };
    handlers.didReceiveData = [weak](const std::uint8_t* data, std::size_t size) {
        if (auto f = weak.lock()) f->body.append(reinterpret_cast<const char*>(data), size);
    };
    handlers.didFinish = [this, weak] {
        auto f = weak.lock();
        if (!f || f != m_fetch) return;
        m_fetch.reset();
        if (f->response.status >= 400) {
            foundation::Error error{ui::kWebHTTPErrorDomain, f->response.status,
                                    "HTTP status " + std::to_string(f->response.status), {}};
            m_host.engineDidFail(error);
            return;
        }
        const std::string base = f->response.url.empty() ? f->url : f->response.url;
        std::string mime = f->response.mimeType();
        showDocument(f->body, mime.empty() ? "text/html" : mime, f->response.textEncodingName(), base);
    };
    handlers.didFail = [this, weak](const net::Error& error) {
        auto f = weak.lock();
        if (!f || f != m_fetch) return;
        m_fetch.reset();
        m_host.engineDidFail(error);
    };
    fetch->connection = net::Connection::start(std::move(netRequest), std::move(handlers));
}

void PageEngine::stopLoading() {
    cancelFetch();
    stopEngine();
}

bool useWebEngine(const std::string& name) {
    if (name == "wpe") {
        ui::setWebEngineMaker([](ui::WebEngineHost& host) { return std::make_unique<WPEWebEngine>(host); });
    } else if (name == "fake") {
        ui::setWebEngineMaker([](ui::WebEngineHost& host) { return std::make_unique<FakeWebEngine>(host); });
    } else if (name == "none") {
        ui::setWebEngineMaker(nullptr);
    } else {
        return false;
    }
    return true;
}

}  // namespace plat::web
