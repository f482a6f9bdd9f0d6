#include "platform/web/FakeWebEngine.h"

#include <utility>

#include "platform/foundation/RunLoop.h"

namespace plat::web {

FakeWebEngine::FakeWebEngine(ui::WebEngineHost& host) : PageEngine(host) {}

FakeWebEngine::~FakeWebEngine() {
    *m_alive = false;
}

FakeWebEngine* FakeWebEngine::of(const ui::WebView& view) {
    return dynamic_cast<FakeWebEngine*>(view.engine());
}

std::string FakeWebEngine::engineURL() const {
    return m_history.empty() ? std::string() : m_history[m_index];
}

void FakeWebEngine::loadPage(const std::string& url, const std::string& document, bool reportStart,
                             bool addToHistory) {
    m_crashed = false;
    m_document = document;
    if (addToHistory) {
        if (!m_history.empty()) m_history.resize(m_index + 1);
        m_history.push_back(url);
        m_index = m_history.size() - 1;
    }
    m_loading = true;
    const unsigned serial = ++m_loadSerial;
    if (reportStart) m_host.engineDidStart();
    if (m_holdsLoads) return;
    plat::foundation::RunLoop::main().perform([this, alive = m_alive, serial] {
        if (!*alive || serial != m_loadSerial || !m_loading) return;
        m_loading = false;
        m_host.engineDidFinish();
    });
}

void FakeWebEngine::showDocument(const std::string& body, const std::string&, const std::string&,
                                 const std::string& baseURL) {
    loadPage(baseURL, body, false, true);  // the fetch already reported the start
}

void FakeWebEngine::loadHTMLString(const std::string& html, const std::string& baseURL) {
    const std::string url = baseURL.empty() ? ui::kBlankPage : baseURL;
    m_host.engineDecide({url}, ui::WebNavigationType::Other, [this, alive = m_alive, html, url](bool allowed) {
        if (!allowed || !*alive) return;
        cancelFetch();
        loadPage(url, html, true, true);
    });
}

void FakeWebEngine::injectNavigation(const std::string& url, ui::WebNavigationType type, bool mainFrame) {
    m_host.engineDecide({url}, type, [this, alive = m_alive, url, mainFrame](bool allowed) {
        if (!allowed || !*alive || !mainFrame) return;
        cancelFetch();
        loadPage(url, "", true, true);
    });
}

void FakeWebEngine::stopEngine() {
    m_loading = false;
    ++m_loadSerial;
}

void FakeWebEngine::reload() {
    if (m_history.empty()) return;
    const std::string url = m_history[m_index];
    m_host.engineDecide({url}, ui::WebNavigationType::Reload, [this, alive = m_alive, url](bool allowed) {
        if (allowed && *alive) loadPage(url, m_document, true, false);
    });
}

void FakeWebEngine::goBack() {
    if (!canGoBack()) return;
    const std::string url = m_history[m_index - 1];
    m_host.engineDecide({url}, ui::WebNavigationType::BackForward, [this, alive = m_alive, url](bool allowed) {
        if (!allowed || !*alive || m_index == 0) return;
        --m_index;
        loadPage(url, "", true, false);
    });
}

void FakeWebEngine::goForward() {
    if (!canGoForward()) return;
    const std::string url = m_history[m_index + 1];
    m_host.engineDecide({url}, ui::WebNavigationType::BackForward, [this, alive = m_alive, url](bool allowed) {
        if (!allowed || !*alive || !canGoForward()) return;
        ++m_index;
        loadPage(url, "", true, false);
    });
}

void FakeWebEngine::crash() {
    m_crashed = true;
    m_document.clear();
    if (m_loading) {
        stopEngine();
        m_host.engineDidFail({"plat.web", 1, "The page's process ended", {}});
    }
}

void FakeWebEngine::injectScroll(ui::Point offset) {
    m_settings.offset = offset;
    m_host.engineDidScroll(offset);
}

std::string FakeWebEngine::evaluate(const std::string& script, double) {
    m_evaluated.push_back(script);
    if (m_crashed || m_neverAnswers || m_history.empty()) return "";
    auto it = m_answers.find(script);
    return it == m_answers.end() ? std::string() : it->second;
}

void FakeWebEngine::evaluateAsync(const std::string& script, std::function<void(std::string)> done) {
    m_evaluated.push_back(script);
    if (m_neverAnswers) return;
    auto it = m_answers.find(script);
    std::string result = m_crashed || m_history.empty() || it == m_answers.end() ? std::string() : it->second;
    plat::foundation::RunLoop::main().perform(
        [done = std::move(done), result = std::move(result)] { done(result); });
}

}  // namespace plat::web
