#include "platform/ui/AlertView.h"

#include <algorithm>

#include "platform/foundation/Bundle.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/UITrace.h"

namespace plat::ui {

namespace {

// The layout, in points.
constexpr double kBoxWidth = 280;
constexpr double kMargin = 16;
constexpr double kSpacing = 8;
constexpr double kButtonHeight = 40;
const Font kTitleFont{"Helvetica-Bold", 17};
const Font kMessageFont{"Helvetica", 15};
const Color kText{1, 1, 1, 1};

}  // namespace

AlertView::AlertView(std::string title, std::optional<std::string> message, std::vector<std::string> buttons,
                     std::weak_ptr<AlertViewDelegate> delegate)
    : m_title(foundation::Bundle::localized(title)),
      m_message(std::move(message)),
      m_english(std::move(buttons)),
      m_delegate(std::move(delegate)) {
    setBackgroundColor(Color{0, 0, 0, 0.45});  // dims what it covers, and takes every touch there
    m_box = std::make_shared<View>();
    m_box->setBackgroundColor(Color{0.11, 0.16, 0.3, 0.95});
    addSubview(m_box);
    for (const auto& [text, font] :
         {std::pair{m_title, kTitleFont}, std::pair{m_message.value_or(""), kMessageFont}}) {
        auto label = std::make_shared<Label>();
        label->setText(text);
        label->setFont(font);
        label->setTextColor(kText);
        label->setTextAlignment(TextAlignment::Center);
        label->setNumberOfLines(0);
        m_box->addSubview(label);
        m_texts.push_back(label);
    }
    for (const std::string& english : m_english) {
        m_buttonTitles.push_back(foundation::Bundle::localized(english));
        auto button = std::make_shared<Button>();
        button->setTitle(m_buttonTitles.back());
        button->setBackgroundColor(Color{1, 1, 1, 0.2});
        m_box->addSubview(button);
        m_buttons.push_back(button);
    }
}

AlertView::~AlertView() = default;

int AlertView::indexOfButton(std::string_view title) const {
    for (const auto* titles : {&m_buttonTitles, &m_english}) {
        auto it = std::find(titles->begin(), titles->end(), title);
        if (it != titles->end()) return static_cast<int>(it - titles->begin());
    }
    return -1;
}

void AlertView::show() {
    Application* app = Application::shared();
    if (!app) {
        foundation::log("alert: no application to show \"%s\"", m_title.c_str());
        return;
    }
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    if (std::find(app->m_alerts.begin(), app->m_alerts.end(), self) != app->m_alerts.end()) return;
    foundation::trace(kTraceAlert, [&] {
        std::string line = "show " + traceable(m_title) + "|" + traceable(m_message.value_or("")) + "|";
        for (size_t i = 0; i < m_buttonTitles.size(); ++i) {
            if (i) line += ',';
            line += traceable(m_buttonTitles[i]);
        }
        return line;
    });
    // A press reaches the alert only while it lives; the buttons are its own.
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        m_buttons[i]->removeTarget(this);
        m_buttons[i]->addTarget(this, [weak = std::weak_ptr(self), i](Button&) {
            if (auto alert = weak.lock()) alert->pressButton(static_cast<int>(i));
        });
    }
    app->m_alerts.push_back(std::move(self));
    showFront();
}

void AlertView::showFront() {
    Application* app = Application::shared();
    if (!app || app->m_alerts.empty() || app->m_alerts.front()->isVisible()) return;
    const auto& overlays = app->overlays();
    if (std::find(overlays.begin(), overlays.end(), app->m_alerts.front()) == overlays.end())
        app->addOverlay(app->m_alerts.front());
}

bool AlertView::isVisible() const {
    Application* app = Application::shared();
    if (!app || app->m_alerts.empty() || app->m_alerts.front().get() != this) return false;
    const auto& overlays = app->overlays();
    return std::any_of(overlays.begin(), overlays.end(), [this](const auto& o) { return o.get() == this; });
}

bool AlertView::pressButton(int index) {
    if (!isVisible() || index < 0 || index >= static_cast<int>(m_buttonTitles.size())) return false;
    Application& app = *Application::shared();
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    const std::string title = m_buttonTitles[static_cast<size_t>(index)];
    foundation::trace(kTraceAlert, [&] { return "press " + std::to_string(index) + "|" + traceable(title); });
    app.m_alerts.erase(app.m_alerts.begin());
    app.removeOverlay(this);
    if (auto delegate = m_delegate.lock()) delegate->alertViewClickedButton(*this, index, title);
    showFront();
    return true;
}

bool AlertView::cancel() {
    Application* app = Application::shared();
    if (!app) return false;
    auto it = std::find_if(app->m_alerts.begin(), app->m_alerts.end(),
                           [this](const auto& a) { return a.get() == this; });
    if (it == app->m_alerts.end()) return false;
    auto self = std::static_pointer_cast<AlertView>(shared_from_this());
    foundation::trace(kTraceAlert, [&] { return "cancel " + traceable(m_title); });
    app->m_alerts.erase(it);
    app->removeOverlay(this);
    if (auto delegate = m_delegate.lock()) delegate->alertViewCancel(*this);
    showFront();
    return true;
}

void AlertView::layoutSubviews() {
    const Rect area = bounds();
    const double width = std::min(kBoxWidth, area.width - 2 * kMargin);
    const double inner = width - 2 * kMargin;
    double y = kMargin;
    for (size_t i = 0; i < m_texts.size(); ++i) {
        const std::string& text = i == 0 ? m_title : m_message.value_or("");
        if (text.empty()) {
            m_texts[i]->setHidden(true);
            continue;
        }
        const double height = textHeight(text, i == 0 ? kTitleFont : kMessageFont, inner, 0);
        m_texts[i]->setFrame({kMargin, y, inner, height});
        y += height + kSpacing;
    }
    // Two buttons side by side, otherwise one a row.
    const bool pair = m_buttons.size() == 2;
    const double buttonWidth = pair ? (inner - kSpacing) / 2 : inner;
    for (size_t i = 0; i < m_buttons.size(); ++i) {
        const double x = pair && i == 1 ? kMargin + buttonWidth + kSpacing : kMargin;
        m_buttons[i]->setFrame({x, y, buttonWidth, kButtonHeight});
        if (!pair || i == 1) y += kButtonHeight + kSpacing;
    }
    const double height = y - kSpacing + kMargin;
    m_box->setFrame({(area.width - width) / 2, (area.height - height) / 2, width, height});
}

}  // namespace plat::ui
