// What the web view's tests share: a delegate that notes what reaches it (and answers decisions
// from a rule), and turning the main loop until something has happened.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/WebView.h"

namespace dktest {

struct NotingWebDelegate : plat::ui::WebViewDelegate {
    std::vector<std::string> lines;
    // Allowed when empty.
    std::function<bool(const std::string& url)> allow;

    bool shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                         plat::ui::WebNavigationType type) override;
    void didStartLoad(plat::ui::WebView&) override;
    void didFinishLoad(plat::ui::WebView&) override;
    void didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) override;
    // The lines so far, then forgotten.
    std::vector<std::string> take();
};

// Turns the main loop until `done` holds or `seconds` of real time passed; `done`'s last answer.
bool turnUntil(const std::function<bool()>& done, double seconds = 20);
// Until the delegate has noted a line starting with `prefix`.
bool turnUntilLine(NotingWebDelegate& delegate, const std::string& prefix, double seconds = 20);

std::shared_ptr<plat::ui::WebView> makeWebView(NotingWebDelegate& delegate, double width = 320, double height = 480);

}  // namespace dktest
