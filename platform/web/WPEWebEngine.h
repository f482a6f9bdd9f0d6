// The page engine on WPE WebKit, drawn headless into shared memory by the fdo backend.
//
// WPE starts with the first view (the fdo backend's loader, then its shared-memory export: no X,
// GPU or /dev/dri). Views share one web context, but for views given a cookie policy before their
// first load, which get an ephemeral context per policy, so an ad view's "accept all" never reaches
// the others; views of one context share their web process and settings. Frames arrive as
// shared-memory buffers, the latest being what the compositor draws, each at its own size from the
// view's top left corner: one drawn for an earlier size is never stretched. The viewport is the
// view's bounds at the screen's scale, set as soon as the view's size changes. A touch reaches the
// page at the view-local point in device pixels (WebKit divides the scale back out). A view's
// document-start script runs in every later main-frame document before the document's own
// scripts. A navigation counts as a link click only when the user's gesture made it: WebKit
// reports a script's a.click() as one too. The main run loop turns GLib's default main context
// through its poll-context hook; the synchronous evaluation turns that context alone, for its
// limit at most, and not at all on a page that left a script unanswered that long.
//
// A page that never yields must not cost the session its web views: a view dismissed or stopped
// while loading, or a synchronous evaluation unanswered, puts a script to the page's web process;
// until it answers no new view joins that process and our loads into its views wait, and without
// an answer within 3 s of what went unanswered the process is ended (every page in it fails its
// view: "plat.web" 3) and the waiting loads go to a fresh one. A view's first load into a process
// holding other pages, and a load not started within 1 s, ask the process too; unanswered, the
// loads go to fresh processes while the silent one lives on until none of its views is shown (a
// frozen page there is still the user's to close), then is ended. Each web process may use 1 GB
// of memory: past it WebKit ends it, checked every second, and so does a watch of ours reading
// the processes' resident size ten times a second on a thread the page cannot hold up (WebKit's
// check waits for the page's scripts); its views fail ("plat.web" 2). At exit the WebKit
// processes among the program's children are killed: a stuck one would outlive it. Programs and
// tests that make web views leave GLib's and WebKit's process-long allocations out of the
// sanitizer's leak report (__lsan_default_suppressions).
#pragma once

#include <memory>
#include <string>

#include "platform/web/PageEngine.h"

namespace plat::web {

// WebKit loads no frame past this many in one page (the main frame's, at any depth): one added
// past it stays empty, and no navigation of it is ever asked for.
inline constexpr int kWPEPageFrameLimit = 1000;

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
    EvaluationCounts evaluationCounts() const override;
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
