// Bars: bar button items, the toolbar that lays them out (fixed spaces, flexible spaces sharing the
// rest, the system Done and Action items, image items), and the navigation bar with its top item;
// both fit to 44 points.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Label.h"

namespace plat::ui {

inline constexpr double kBarHeight = 44;

// One item of a toolbar or a navigation bar: a system item, an image, a space, or a view of the
// caller's (as wide as its frame). Made with std::make_shared.
class BarButtonItem : public std::enable_shared_from_this<BarButtonItem> {
public:
    enum class Kind { Done, Action, FixedSpace, FlexibleSpace, Image, CustomView };
    using Action = std::function<void(BarButtonItem&)>;

    BarButtonItem(Kind kind, Action action = {});
    BarButtonItem(std::shared_ptr<Image> image, Action action);
    explicit BarButtonItem(std::shared_ptr<View> customView);

    Kind kind() const { return m_kind; }
    bool isSpace() const { return m_kind == Kind::FixedSpace || m_kind == Kind::FlexibleSpace; }
    // A fixed space's width; other items take their own (flexible spaces share what is left).
    double width() const { return m_width; }
    void setWidth(double width) { m_width = width; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    const std::shared_ptr<Image>& image() const { return m_image; }
    // "Done", "Action", or "" for images and spaces.
    std::string title() const;

    // What a touch on it does: nothing while disabled. False then.
    bool press();
    // The button that shows the item on its bar (null for spaces and custom views), made once.
    const std::shared_ptr<Button>& button();
    const std::shared_ptr<View>& customView() const { return m_customView; }
    // What shows the item on its bar: the custom view or the button (null for spaces).
    std::shared_ptr<View> itemView();

private:
    Kind m_kind;
    Action m_action;
    std::shared_ptr<Image> m_image;
    double m_width = 0;
    bool m_enabled = true;
    std::shared_ptr<Button> m_button;
    std::shared_ptr<View> m_customView;
};

// A bar of items across its width: fixed spaces and buttons take their width, flexible spaces
// share the rest equally.
class Toolbar : public View {
public:
    Toolbar();
    const char* className() const override { return "UIToolbar"; }
    const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return m_items; }
    void setItems(std::vector<std::shared_ptr<BarButtonItem>> items);
    // Keeps the width, takes the bar's height.
    void sizeToFit();
    void layoutSubviews() override;
    // The item's frame on the bar (zero when it is not on it).
    Rect frameOfItem(const BarButtonItem& item) const;

private:
    std::vector<std::shared_ptr<BarButtonItem>> m_items;
    std::vector<Rect> m_frames;
};

class NavigationItem {
public:
    explicit NavigationItem(std::string title = {}) : m_title(std::move(title)) {}
    const std::string& title() const { return m_title; }
    void setTitle(std::string title) { m_title = std::move(title); }
    const std::shared_ptr<BarButtonItem>& rightBarButtonItem() const { return m_right; }
    void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) { m_right = std::move(item); }

private:
    std::string m_title;
    std::shared_ptr<BarButtonItem> m_right;
};

// Shows its top item: the title centred, the right item at the right end.
class NavigationBar : public View {
public:
    NavigationBar();
    const char* className() const override { return "UINavigationBar"; }
    void pushNavigationItem(std::shared_ptr<NavigationItem> item);
    // 0 the default bar, 1 black, 2 black translucent (drawn at half opacity).
    int barStyle() const { return m_barStyle; }
    void setBarStyle(int style);
    const std::shared_ptr<NavigationItem>& topItem() const { return m_top; }
    void sizeToFit();
    void layoutSubviews() override;

private:
    std::shared_ptr<NavigationItem> m_top;
    std::vector<std::shared_ptr<NavigationItem>> m_stack;
    int m_barStyle = 0;
    std::shared_ptr<Label> m_title;
    std::shared_ptr<Button> m_right;
};

}  // namespace plat::ui
