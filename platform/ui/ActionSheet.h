// Action sheets: a column of buttons over the bottom of the screen, shown from a toolbar or from
// a bar item, one at a time, as an overlay. show traces "sheet show B1,B2", a press (the input's
// sheet.press N) "sheet press N".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/ui/View.h"

namespace plat::ui {

class ActionSheet;
class BarButtonItem;
class Button;
class Toolbar;

extern foundation::TraceCategory kTraceSheet;

class ActionSheetDelegate {
public:
    virtual ~ActionSheetDelegate() = default;
    // A button pressed by the user; the sheet has left the screen.
    virtual void actionSheetClickedButton(ActionSheet& sheet, int index) = 0;
};

// Made with std::make_shared. The buttons are the other buttons in order, then the cancel button
// when there is one (its index is the last). The delegate is not owned.
class ActionSheet : public View {
public:
    ActionSheet(std::optional<std::string> title, ActionSheetDelegate* delegate,
                std::optional<std::string> cancelButtonTitle, std::vector<std::string> otherButtonTitles);
    ~ActionSheet() override;
    const char* className() const override { return "UIActionSheet"; }

    const std::vector<std::string>& buttonTitles() const { return m_titles; }
    // -1 without a cancel button.
    int cancelButtonIndex() const { return m_cancelIndex; }
    void setDelegate(ActionSheetDelegate* delegate) { m_delegate = delegate; }

    // Traced "sheet show B1,B2": over everything, at the bottom of the screen.
    void showFromToolbar(const Toolbar& toolbar);
    void showFromBarButtonItem(const BarButtonItem& item, bool animated);
    bool isVisible() const { return m_visible; }
    // Leaves the screen without telling the delegate.
    void dismissWithClickedButtonIndex(int index, bool animated);
    // The user's press: traced "sheet press N", the sheet leaves, the delegate hears it. False,
    // with nothing done, when it is not on screen or has no such button.
    bool pressButton(int index);

    // The sheet on screen, null when none.
    static ActionSheet* onScreen();

    void layoutSubviews() override;

private:
    void show();

    std::vector<std::string> m_titles;
    int m_cancelIndex = -1;
    ActionSheetDelegate* m_delegate;
    std::vector<std::shared_ptr<Button>> m_buttons;
    bool m_visible = false;
};

}  // namespace plat::ui
