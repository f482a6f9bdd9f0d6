// Alerts: a title, an optional message and buttons, over everything, one at a time. show traces
// "alert show TITLE|MESSAGE|B1,B2" and queues the alert (Application::alerts); the oldest is on
// screen, its dimmed backdrop taking every touch. A press traces "alert press N|TITLE", takes it
// off, tells the delegate (held weakly) and shows the next. The system's dismissal, cancel (the
// input's alert.cancel), traces "alert cancel TITLE" and tells the delegate alertViewCancel. Title
// and buttons pass the main bundle's localized strings.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/View.h"

namespace plat::ui {

class AlertView;
class Button;

class AlertViewDelegate {
public:
    virtual ~AlertViewDelegate() = default;
    // The button pressed: its index (from 0, in the order the buttons were given) and its title as
    // shown. The alert has left the screen; the next one shows after this returns.
    virtual void alertViewClickedButton(AlertView& alert, int index, const std::string& title) = 0;
    // The system took the alert away (cancel()) without a button.
    virtual void alertViewCancel(AlertView&) {}
};

// Made with std::make_shared. The title and the buttons are written in English and shown through
// the main bundle's localized strings; the message as it is. The delegate is not owned.
class AlertView : public View {
public:
    AlertView(std::string title, std::optional<std::string> message, std::vector<std::string> buttons,
              std::weak_ptr<AlertViewDelegate> delegate = {});
    ~AlertView() override;
    const char* className() const override { return "UIAlertView"; }

    // As shown.
    const std::string& title() const { return m_title; }
    const std::optional<std::string>& message() const { return m_message; }
    const std::vector<std::string>& buttonTitles() const { return m_buttonTitles; }
    // The first button shown with `title`, else the first given so in English; -1 when none.
    int indexOfButton(std::string_view title) const;
    std::shared_ptr<AlertViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(std::weak_ptr<AlertViewDelegate> delegate) { m_delegate = std::move(delegate); }

    // Returns at once: traced "alert show TITLE|MESSAGE|B1,B2" and queued behind the alerts shown
    // before it (Application::alerts), on screen, over everything, once they are gone. Showing an
    // alert still queued does nothing.
    void show();
    // On screen: the oldest alert shown.
    bool isVisible() const;
    // Button `index` of the alert on screen: traced "alert press N|TITLE", the alert leaves, the
    // delegate hears it, and the next alert shows. False, with nothing done, when this alert is
    // not on screen or has no such button.
    bool pressButton(int index);
    // The system's dismissal of an alert shown (on screen or waiting): traced "alert cancel TITLE",
    // it leaves, the delegate hears alertViewCancel, and the next alert shows. False when the alert
    // is not shown.
    bool cancel();

    void layoutSubviews() override;

private:
    static void showFront();

    std::string m_title;
    std::optional<std::string> m_message;
    std::vector<std::string> m_english;  // the buttons as given
    std::vector<std::string> m_buttonTitles;
    std::weak_ptr<AlertViewDelegate> m_delegate;
    std::shared_ptr<View> m_box;
    std::vector<std::shared_ptr<View>> m_texts;  // the title's label and the message's
    std::vector<std::shared_ptr<Button>> m_buttons;
};

}  // namespace plat::ui
