// The page engine on WPE WebKit, drawn headless into shared memory by the fdo backend.
#pragma once

#include <memory>
#include <string>

#include "platform/web/PageEngine.h"

namespace plat::web {

class WPEWebEngine : public PageEngine {
public:
    explicit WPEWebEngine(ui::WebEngineHost& host);
    ~WPEWebEngine() override;

    void loadHTMLString(const std::string& html, const std::string& baseURL) override;
    void reload() override;
    void goBack() override;
    void goForward() override;
    bool canGoBack() const override;
    bool canGoForward() const override;
    std::string evaluate(const std::string& script, double limit) override;
    void evaluateAsync(const std::string& script, std::function<void(std::string)> done) override;
    void setViewport(double width, double height, double scale) override;
    cairo_surface_t* frame() const override;
    void pointer(ui::Point location, ui::TouchPhase phase) override;
    std::string userAgent() const override;
    void setMediaPolicy(bool inlineMedia, bool requiresUserAction) override;
    void setPageBackground(bool opaque, const std::optional<ui::Color>& color) override;
    void setScrollEnabled(bool enabled) override;
    void setScrollOffset(ui::Point offset) override;
    void setCookieAcceptPolicy(ui::WebCookieAcceptPolicy policy) override;
    void setDocumentStartScript(const std::string& script) override;

    struct Impl;

protected:
    void showDocument(const std::string& body, const std::string& mimeType, const std::string& encoding,
                      const std::string& baseURL) override;
    void stopEngine() override;
    bool engineLoading() const override;
    std::string engineURL() const override;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace plat::web
