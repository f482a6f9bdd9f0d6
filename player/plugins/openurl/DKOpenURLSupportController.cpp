#include "player/plugins/openurl/DKOpenURLSupportController.h"

#include "platform/foundation/Bundle.h"
#include "platform/ui/Button.h"

namespace {
constexpr double kBarHeight = 44;
constexpr double kCloseWidth = 72;
constexpr double kInset = 6;

// The close bar over the page; both follow the screen's size.
class InAppWebView : public plat::ui::View {
public:
    InAppWebView(const plat::ui::Rect& frame, std::shared_ptr<plat::ui::WebView> web,
                 std::shared_ptr<plat::ui::Button> close)
        : View(frame), m_web(std::move(web)), m_close(std::move(close)) {
        setBackgroundColor(plat::ui::Color{1, 1, 1, 1});
        m_bar = std::make_shared<View>();
        m_bar->setBackgroundColor(plat::ui::Color{0.43, 0.52, 0.64, 1});
        m_bar->addSubview(m_close);
        addSubview(m_web);
        addSubview(m_bar);
        layoutSubviews();
    }
    void layoutSubviews() override {
        const plat::ui::Rect b = bounds();
        m_bar->setFrame({0, 0, b.width, kBarHeight});
        m_close->setFrame({kInset, kInset, kCloseWidth, kBarHeight - 2 * kInset});
        m_web->setFrame({0, kBarHeight, b.width, std::max(b.height - kBarHeight, 0.0)});
    }

private:
    std::shared_ptr<plat::ui::WebView> m_web;
    std::shared_ptr<plat::ui::Button> m_close;
    std::shared_ptr<View> m_bar;
};
}  // namespace

void DKOpenURLSupportController::loadView() {
    auto* app = plat::ui::Application::shared();
    m_webView = std::make_shared<plat::ui::WebView>();
    auto close = std::make_shared<plat::ui::Button>();
    close->setTitle(plat::foundation::Bundle::localized("Close"));
    close->setBackgroundColor(plat::ui::Color{0.2, 0.35, 0.65, 1});
    close->addTarget(this, [this](plat::ui::Button&) { this->close(); });
    m_webView->setCloseControl(close);
    setView(std::make_shared<InAppWebView>(app ? app->interfaceBounds() : plat::ui::Rect{}, m_webView, close));
}

plat::ui::WebView& DKOpenURLSupportController::webView() {
    view();
    return *m_webView;
}

void DKOpenURLSupportController::close() {
    if (m_delegate) m_delegate->openURLBrowserWasDismissed(*this);
}
