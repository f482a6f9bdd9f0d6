// The page engine of tests (`--web fake`): it does what a real engine cannot be made to do on
// demand. Pages are not parsed: a document is shown as it came, navigations are injected as if
// the page made them, evaluations are answered from a table of scripts (or never), a load can be
// held for ever and the page can crash.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/web/PageEngine.h"

namespace plat::web {

inline constexpr const char* kFakeUserAgent =
    "Mozilla/5.0 (iPhone; CPU iPhone OS 6_1 like Mac OS X) AppleWebKit/536.26 (KHTML, like Gecko) Mobile/10B141 "
    "DrovikFakeWeb";

class FakeWebEngine : public PageEngine {
public:
    explicit FakeWebEngine(ui::WebEngineHost& host);
    ~FakeWebEngine() override;

    // The fake behind `view`; null when another engine (or none) stands behind it.
    static FakeWebEngine* of(const ui::WebView& view);

    // A navigation of the page (`mainFrame` false: one of its frames): asked for like any other,
    // and loaded when allowed (a frame's load is not the page's: no start, finish or fail).
    void injectNavigation(const std::string& url, ui::WebNavigationType type, bool mainFrame = true);
    // The answer to exactly this script text; scripts not in the table answer "".
    void answer(const std::string& script, std::string result) { m_answers[script] = std::move(result); }
    // Asynchronous evaluations from now on never complete; synchronous ones end at their limit.
    void setNeverAnswers(bool never) { m_neverAnswers = never; }
    // Loads from now on never finish.
    void setHoldsLoads(bool holds) { m_holdsLoads = holds; }
    // The page's process ends: a load under way fails, the page is gone.
    void crash();
    // The page scrolls (the user's finger, or its script).
    void injectScroll(ui::Point offset);

    // What the engine was given and asked, in order.
    const std::string& document() const { return m_document; }
    const std::vector<std::string>& evaluated() const { return m_evaluated; }

    void loadHTMLString(const std::string& html, const std::string& baseURL) override;
    void reload() override;
    void goBack() override;
    void goForward() override;
    bool canGoBack() const override { return m_index > 0; }
    bool canGoForward() const override { return m_index + 1 < m_history.size(); }
    std::string evaluate(const std::string& script, double limit) override;
    void evaluateAsync(const std::string& script, std::function<void(std::string)> done) override;
    void setViewport(double, double, double) override {}
    cairo_surface_t* frame() const override { return nullptr; }
    void pointer(ui::Point, ui::TouchPhase) override {}
    // A fixed text, the same on every machine: kFakeUserAgent.
    std::string userAgent() const override { return kFakeUserAgent; }
    // Kept as given, for tests to read.
    void setMediaPolicy(bool inlineMedia, bool requiresUserAction) override {
        m_settings.inlineMedia = inlineMedia;
        m_settings.mediaNeedsAction = requiresUserAction;
    }
    void setPageBackground(bool opaque, const std::optional<ui::Color>& color) override {
        m_settings.opaque = opaque;
        m_settings.background = color;
    }
    void setScrollEnabled(bool enabled) override { m_settings.scrollEnabled = enabled; }
    void setScrollOffset(ui::Point offset) override { m_settings.offset = offset; }
    void setCookieAcceptPolicy(ui::WebCookieAcceptPolicy policy) override { m_settings.cookies = policy; }
    void setDocumentStartScript(const std::string& script) override { m_settings.startScript = script; }
    struct Settings {
        bool inlineMedia = false, mediaNeedsAction = true, opaque = true, scrollEnabled = true;
        std::string startScript;
        std::optional<ui::Color> background;
        ui::Point offset{0, 0};
        std::optional<ui::WebCookieAcceptPolicy> cookies;  // none: the shared context
    };
    const Settings& settings() const { return m_settings; }

protected:
    void showDocument(const std::string& body, const std::string& mimeType, const std::string& encoding,
                      const std::string& baseURL) override;
    void stopEngine() override;
    bool engineLoading() const override { return m_loading; }
    std::string engineURL() const override;

private:
    // A main-frame load of `url`: started now, finished on a later turn unless held or cut short.
    void loadPage(const std::string& url, const std::string& document, bool reportStart, bool addToHistory);

    Settings m_settings;
    std::map<std::string, std::string> m_answers;
    std::vector<std::string> m_evaluated;
    std::vector<std::string> m_history;
    std::size_t m_index = 0;
    std::string m_document;
    bool m_neverAnswers = false;
    bool m_holdsLoads = false;
    bool m_loading = false;
    bool m_crashed = false;
    unsigned m_loadSerial = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace plat::web
