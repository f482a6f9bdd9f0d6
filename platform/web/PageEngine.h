// What every page engine shares: the document of an allowed load is fetched through platform/net
// (its policy and time-out honoured), a failure or an HTTP error status becomes the load's
// failure, and the body goes to the engine with the final address as its base.
//
// The fetch keeps the request's cache policy, so a page the shared URL cache holds (a template
// stored ahead, or by an earlier show) is shown without a fetch. An HTTP error is a status from
// 400, reported in ui::kWebHTTPErrorDomain with the status as its code. A "file:" address is read
// from disk on a later turn instead (the network loading takes none); a missing file fails with
// -1100. Every client's tool and the player choose the engine with --web wpe|fake|none (WPE by
// default).
#pragma once

#include <memory>
#include <string>

#include "platform/ui/WebView.h"

namespace plat::web {

class PageEngine : public ui::WebEngine {
public:
    explicit PageEngine(ui::WebEngineHost& host);
    ~PageEngine() override;

    void loadRequest(const ui::WebRequest& request) override;
    void stopLoading() override;
    bool isLoading() const override { return fetching() || engineLoading(); }
    std::string currentURL() const override;

protected:
    // The fetched document of our own load, to show as the page at `baseURL`.
    virtual void showDocument(const std::string& body, const std::string& mimeType,
                              const std::string& encoding, const std::string& baseURL) = 0;
    virtual void stopEngine() = 0;
    virtual bool engineLoading() const = 0;
    virtual std::string engineURL() const = 0;
    bool fetching() const;
    // A newer load or a stop: the fetch under way ends without a word.
    void cancelFetch();

    ui::WebEngineHost& m_host;

private:
    struct Fetch;
    std::shared_ptr<Fetch> m_fetch;
};

// Installs the engine web views use from now on: "wpe", "fake" or "none". False for any other
// name. WPE is loaded at the first web view made; a web view shows its address when it cannot be.
bool useWebEngine(const std::string& name);

}  // namespace plat::web
