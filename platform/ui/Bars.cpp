#include "platform/ui/Bars.h"

namespace plat::ui {

namespace {

constexpr double kItemMargin = 6;
constexpr double kTextItemWidth = 52;
const Color kBarColor{0.12, 0.12, 0.14, 1};

}  // namespace

BarButtonItem::BarButtonItem(Kind kind, Action action) : m_kind(kind), m_action(std::move(action)) {}

BarButtonItem::BarButtonItem(std::shared_ptr<Image> image, Action action)
    : m_kind(Kind::Image), m_action(std::move(action)), m_image(std::move(image)) {}

BarButtonItem::BarButtonItem(std::shared_ptr<View> customView)
    : m_kind(Kind::CustomView), m_customView(std::move(customView)) {}

std::string BarButtonItem::title() const {
    switch (m_kind) {
        case Kind::Done: return "Done";
        case Kind::Action: return "Action";
        default: return {};
    }
}

void BarButtonItem::setEnabled(bool enabled) {
    m_enabled = enabled;
    if (m_button) {
        m_button->setAlpha(enabled ? 1.0 : 0.4);
        m_button->setUserInteractionEnabled(enabled);
    }
}

bool BarButtonItem::press() {
    if (!m_enabled || isSpace()) return false;
    // The item may be let go by its own action (a browser closing itself).
    auto self = shared_from_this();
    if (m_action) m_action(*this);
    return true;
}

const std::shared_ptr<Button>& BarButtonItem::button() {
    if (!m_button && !isSpace() && m_kind != Kind::CustomView) {
        m_button = std::make_shared<Button>();
        if (m_image)
            m_button->setImage(m_image);
        else
            m_button->setTitle(m_kind == Kind::Action ? "\xE2\x86\x97" : title());
        std::weak_ptr<BarButtonItem> weak = weak_from_this();
        m_button->addTarget(this, [weak](Button&) {
            if (auto item = weak.lock()) item->press();
        });
        setEnabled(m_enabled);
    }
    return m_button;
}

std::shared_ptr<View> BarButtonItem::itemView() {
    if (m_customView) return m_customView;
    return button();
}

Toolbar::Toolbar() { setBackgroundColor(kBarColor); }

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
    for (const auto& item : m_items)
        if (auto view = item->itemView(); view && view->superview() == this) view->removeFromSuperview();
    m_items = std::move(items);
    for (const auto& item : m_items)
        if (auto view = item->itemView()) addSubview(view);
    layoutSubviews();
}

void Toolbar::sizeToFit() {
    Rect f = frame();
    f.height = kBarHeight;
    setFrame(f);
}

static double itemWidth(const BarButtonItem& item) {
    switch (item.kind()) {
        case BarButtonItem::Kind::FixedSpace: return item.width();
        case BarButtonItem::Kind::FlexibleSpace: return 0;
        case BarButtonItem::Kind::Image: return item.image() ? item.image()->size().width : kTextItemWidth;
        case BarButtonItem::Kind::CustomView: return item.customView() ? item.customView()->frame().width : 0;
        default: return kTextItemWidth;
    }
}

void Toolbar::layoutSubviews() {
    const Rect b = bounds();
    double taken = 2 * kItemMargin;
    int flexible = 0;
    for (const auto& item : m_items) {
        taken += itemWidth(*item);
        if (item->kind() == BarButtonItem::Kind::FlexibleSpace) ++flexible;
    }
    const double share = flexible ? std::max(0.0, b.width - taken) / flexible : 0;
    double x = kItemMargin;
    m_frames.clear();
    for (const auto& item : m_items) {
        const double w = item->kind() == BarButtonItem::Kind::FlexibleSpace ? share : itemWidth(*item);
        m_frames.push_back({x, 0, w, b.height});
        if (auto view = item->itemView()) view->setFrame(m_frames.back());
        x += w;
    }
}

Rect Toolbar::frameOfItem(const BarButtonItem& item) const {
    for (size_t i = 0; i < m_items.size() && i < m_frames.size(); ++i)
        if (m_items[i].get() == &item) return m_frames[i];
    return {};
}

void NavigationBar::setBarStyle(int style) {
    m_barStyle = style;
    if (style == 0) setBackgroundColor(kBarColor);
    else setBackgroundColor(Color{0, 0, 0, style == 2 ? 0.5 : 1});
}

NavigationBar::NavigationBar() {
    setBackgroundColor(kBarColor);
    m_title = std::make_shared<Label>();
    m_title->setTextColor(Color{1, 1, 1, 1});
    m_title->setFont(Font{"Helvetica-Bold", 17});
    m_title->setTextAlignment(TextAlignment::Center);
    addSubview(m_title);
}

void NavigationBar::pushNavigationItem(std::shared_ptr<NavigationItem> item) {
    m_stack.push_back(item);
    m_top = std::move(item);
    m_title->setText(m_top->title());
    if (m_right) m_right->removeFromSuperview();
    m_right = m_top->rightBarButtonItem() ? m_top->rightBarButtonItem()->button() : nullptr;
    if (m_right) addSubview(m_right);
    layoutSubviews();
}

void NavigationBar::sizeToFit() {
    Rect f = frame();
    f.height = kBarHeight;
    setFrame(f);
}

void NavigationBar::layoutSubviews() {
    const Rect b = bounds();
    const double side = kTextItemWidth + kItemMargin;
    m_title->setFrame({side, 0, std::max(0.0, b.width - 2 * side), b.height});
    if (m_right) m_right->setFrame({b.width - side, 0, kTextItemWidth, b.height});
}

}  // namespace plat::ui
