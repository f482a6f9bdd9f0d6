// The web view: a page at an address. Narrow on purpose: what shows a page (none yet; a page
// engine may stand behind it later) stays behind load and the address.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/View.h"

namespace plat::ui {

class Button;

inline constexpr const char* kBlankPage = "about:blank";

// Made with std::make_shared. This backend renders no HTML: the page shows its address (nothing
// for the blank page).
class WebView : public View {
public:
    WebView();
    explicit WebView(const Rect& frame);
    const char* className() const override { return "UIWebView"; }

    // Traced "web load URL".
    void load(const std::string& url);
    const std::string& address() const { return m_address; }
    bool scalesPageToFit() const { return m_scalesPageToFit; }
    void setScalesPageToFit(bool scales) { m_scalesPageToFit = scales; }

    // The control that closes the page, made by what shows it (not owned): what the input
    // script's "web.close" presses.
    std::shared_ptr<Button> closeControl() const { return m_closeControl.lock(); }
    void setCloseControl(const std::shared_ptr<Button>& control) { m_closeControl = control; }
    // The front-most web view on screen that has a close control; null when none.
    static WebView* closableOnScreen();

    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    std::optional<std::string> dumpText() const override;

private:
    std::string m_address;
    std::weak_ptr<Button> m_closeControl;
    bool m_scalesPageToFit = false;
};

}  // namespace plat::ui
