#include "platform/ui/WebView.h"

#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/UITrace.h"

namespace plat::ui {

WebView::WebView() {
    setBackgroundColor(Color{1, 1, 1, 1});
}

WebView::WebView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color{1, 1, 1, 1});
}

void WebView::load(const std::string& url) {
    foundation::trace(kTraceWeb, [&] { return "load " + traceable(url); });
    m_address = url;
    setNeedsDisplay();
}

WebView* WebView::closableOnScreen() {
    Application* app = Application::shared();
    View* found = app ? app->frontmostView([](View& view) {
        auto* web = dynamic_cast<WebView*>(&view);
        return web && web->closeControl();
    })
                      : nullptr;
    return static_cast<WebView*>(found);
}

void WebView::draw(cairo_t* cr) {
    if (m_address == kBlankPage) return;
    const Rect b = bounds();
    drawText(cr, m_address, Font{"Helvetica", 15}, Color{0.35, 0.35, 0.35, 1},
             {12, 0, b.width - 24, b.height}, TextAlignment::Center, 0);
}

std::optional<std::string> WebView::dumpText() const {
    if (m_address.empty()) return std::nullopt;
    return m_address;
}

}  // namespace plat::ui
