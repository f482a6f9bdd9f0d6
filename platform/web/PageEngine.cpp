#include "platform/web/PageEngine.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"

#include "platform/net/URLCache.h"
#include "platform/net/URLLoading.h"
#include "platform/sys/QuitWatch.h"
#include "platform/sys/WholeFile.h"
#include "platform/web/FakeWebEngine.h"

namespace plat::web {

struct PageEngine::Fetch {
    net::Connection connection;
    std::string url;
    net::Response response;
    std::string body;
};

namespace {

// The path of a "file:" address (no host, or "localhost"), percent escapes decoded; nothing for
// any other address.
std::optional<std::string> filePath(const std::string& url) {
    if (url.size() < 7 || !std::equal(url.begin(), url.begin() + 7, "file://", [](char a, char b) {
            return (a | 0x20) == b || a == b;
        }))
        return std::nullopt;
    const std::size_t end = url.find_first_of("?#", 7);
    std::string rest = url.substr(7, end == std::string::npos ? end : end - 7);
    if (rest.starts_with("localhost/")) rest.erase(0, 9);
    if (!rest.starts_with("/")) return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            path += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += rest[i];
        }
    }
    return path;
}

int netCachePolicy(ui::WebCachePolicy policy) {
    switch (policy) {
    case ui::WebCachePolicy::ReloadIgnoringCache: return net::kReloadIgnoringLocalCacheData;
    case ui::WebCachePolicy::ReturnCacheDataElseLoad: return net::kReturnCacheDataElseLoad;
    case ui::WebCachePolicy::ReturnCacheDataDontLoad: return net::kReturnCacheDataDontLoad;
    default: return net::kUseProtocolCachePolicy;
    }
}

}  // namespace

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
    // A template stored ahead (or by an earlier show) is answered by the shared cache, as any
    // other load of the process would be.
    netRequest.cachePolicy = netCachePolicy(request.cachePolicy);
    if (request.cachePolicy == ui::WebCachePolicy::ReloadIgnoringCache) {
        net::setHeader(netRequest.headers, "Cache-Control", "no-cache");
        net::setHeader(netRequest.headers, "Pragma", "no-cache");
    }
    auto fetch = std::make_shared<Fetch>();
    fetch->url = request.url;
    m_fetch = fetch;
    m_host.engineDidStart();
    std::weak_ptr<Fetch> weak = fetch;
    // The network loading takes no file addresses: the file is read here, on a later turn as a
    // fetch would end.
    if (std::optional<std::string> path = filePath(request.url)) {
        foundation::RunLoop::main().perform([this, weak, path = *path] {
            auto f = weak.lock();
            if (!f || f != m_fetch) return;
            m_fetch.reset();
            const std::optional<std::string> body = sys::readWholeFile(path, sys::kDataFileCap);
            if (!body) {
                foundation::Value::Dictionary info{{net::kURLErrorFailingURLStringErrorKey, f->url}};
                m_host.engineDidFail({net::kURLErrorDomain, net::kURLErrorFileDoesNotExist,
                                      "The requested URL was not found on this server.", std::move(info)});
                return;
            }
            showDocument(*body, path.ends_with(".txt") ? "text/plain" : "text/html", "", f->url);
        });
        return;
    }
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

namespace {

using MakeWPEWebEngine = ui::WebEngine* (*)(ui::WebEngineHost&);

// WPE WebKit and the hundred libraries under it are loaded when a program first asks for the page
// engine, not at every start: mapping and relocating them was most of the player's way to main.
// The module resolves our own symbols against the program, which exports them. Never unloaded.
MakeWPEWebEngine loadWPEModule() {
    static MakeWPEWebEngine make = [] () -> MakeWPEWebEngine {
        std::string errors;
        for (const char* path : {DK_WPE_MODULE_PATH, DK_WPE_MODULE_NAME}) {
            if (void* module = ::dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
                if (void* entry = ::dlsym(module, "dkMakeWPEWebEngine")) {
                    // An end at once skips the module's exit handler: its processes would outlive us.
                    if (void* end = ::dlsym(module, "dkEndWPEProcesses"))
                        sys::setBeforeAbruptExit(reinterpret_cast<void (*)()>(end));
                    return reinterpret_cast<MakeWPEWebEngine>(entry);
                }
            }
            const char* why = ::dlerror();
            errors += std::string(errors.empty() ? "" : "; ") + (why ? why : path);
        }
        foundation::log("web: the WPE page engine could not be loaded: %s", errors.c_str());
        return nullptr;
    }();
    return make;
}

}  // namespace

bool useWebEngine(const std::string& name) {
    if (name == "wpe") {
        // Loaded at the first web view: the default engine costs nothing to a run that shows no page.
        ui::setWebEngineMaker([](ui::WebEngineHost& host) {
            const MakeWPEWebEngine make = loadWPEModule();
            return std::unique_ptr<ui::WebEngine>(make ? make(host) : nullptr);
        });
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
