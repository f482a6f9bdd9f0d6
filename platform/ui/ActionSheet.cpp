#include "platform/ui/ActionSheet.h"

#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/UITrace.h"

namespace plat::ui {

foundation::TraceCategory kTraceSheet("sheet");

namespace {

constexpr double kButtonHeight = 44;
constexpr double kMargin = 8;
ActionSheet* g_onScreen = nullptr;

}  // namespace

ActionSheet::ActionSheet(std::optional<std::string> /*title*/, ActionSheetDelegate* delegate,
                         std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles)
    : m_titles(std::move(otherButtonTitles)), m_delegate(delegate) {
    if (cancelButtonTitle) {
        m_cancelIndex = static_cast<int>(m_titles.size());
        m_titles.push_back(*cancelButtonTitle);
    }
    setBackgroundColor(Color{0, 0, 0, 0.3});
    for (size_t i = 0; i < m_titles.size(); ++i) {
        auto button = std::make_shared<Button>();
        button->setTitle(m_titles[i]);
        button->setBackgroundColor(static_cast<int>(i) == m_cancelIndex ? Color{0.2, 0.2, 0.22, 1}
                                                                        : Color{0.35, 0.35, 0.4, 1});
        button->addTarget(this, [this, i](Button&) { pressButton(static_cast<int>(i)); });
        addSubview(button);
        m_buttons.push_back(button);
    }
}

ActionSheet::~ActionSheet() {
    if (g_onScreen == this) g_onScreen = nullptr;
}

ActionSheet* ActionSheet::onScreen() { return g_onScreen; }

void ActionSheet::showFromToolbar(const Toolbar&) { show(); }

void ActionSheet::showFromBarButtonItem(const BarButtonItem&, bool) { show(); }

void ActionSheet::show() {
    Application* app = Application::shared();
    if (!app || m_visible) return;
    foundation::trace(kTraceSheet, [&] {
        std::string line = "show ";
        for (size_t i = 0; i < m_titles.size(); ++i) {
            if (i) line += ',';
            line += traceable(m_titles[i]);
        }
        return line;
    });
    m_visible = true;
    g_onScreen = this;
    app->addOverlay(shared_from_this());
}

void ActionSheet::dismissWithClickedButtonIndex(int, bool) {
    if (!m_visible) return;
    m_visible = false;
    if (g_onScreen == this) g_onScreen = nullptr;
    auto self = shared_from_this();  // the overlay list may hold the last reference
    if (Application* app = Application::shared()) app->removeOverlay(this);
}

bool ActionSheet::pressButton(int index) {
    if (!m_visible || index < 0 || index >= static_cast<int>(m_titles.size())) return false;
    foundation::trace(kTraceSheet, "press " + std::to_string(index));
    auto self = shared_from_this();
    dismissWithClickedButtonIndex(index, true);
    if (m_delegate) m_delegate->actionSheetClickedButton(*this, index);
    return true;
}

void ActionSheet::layoutSubviews() {
    const Rect b = bounds();
    double y = b.height - kMargin - kButtonHeight * static_cast<double>(m_buttons.size());
    for (const auto& button : m_buttons) {
        button->setFrame({kMargin, y, b.width - 2 * kMargin, kButtonHeight - 4});
        y += kButtonHeight;
    }
}

}  // namespace plat::ui
