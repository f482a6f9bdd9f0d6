// Text entry: an editable text view that takes the keyboard, and the entry screen's view around it.
// TextView holds multi-line text and the keyboard type (recorded only); keyboard input reaches the
// first responder through appendText (UTF-8 only), deleteBackward (a whole character as Pango's
// cursor positions see it) and insertNewline. TextEntryView is a bar with the title and a done
// control ("Done", localized; its first action traces "text done TEXT") over a text view;
// beginEditing, once the screen has appeared, makes the text view first responder and traces
// "text show TITLE|TEXT|TYPE".
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/View.h"

namespace plat::ui {

class Button;
class Label;

inline constexpr int kKeyboardTypeDefault = 0;
inline constexpr int kKeyboardTypeNumbersAndPunctuation = 2;

// Text of any number of lines. While it is the first responder it takes the keyboard: the window
// driver sends text input to the application's textInputResponder() (committed UTF-8 to
// appendText, Backspace to deleteBackward, Return to insertNewline), and the input script's
// text.type and text.clear reach it headless. Made with std::make_shared.
class TextView : public View {
public:
    TextView();
    explicit TextView(const Rect& frame);
    ~TextView() override;
    const char* className() const override { return "UITextView"; }

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    // The keyboard it asks for (kKeyboardType...): recorded only, a desktop's keyboard types all.
    int keyboardType() const { return m_keyboardType; }
    void setKeyboardType(int type) { m_keyboardType = type; }

    // Only in a window (false otherwise); the one before resigns. Leaving the window resigns.
    bool becomeFirstResponder();
    void resignFirstResponder();
    bool isFirstResponder() const;

    // Keyboard input, taken whether or not this is the first responder. Text that is not UTF-8
    // is refused (logged, false).
    bool appendText(std::string_view utf8);
    // The last character as a reader sees it (a letter with its marks, a flag) goes, whole.
    void deleteBackward();
    void insertNewline() { appendText("\n"); }

    void didMoveToWindow() override;
    bool drawsContent() const override { return true; }
    void draw(cairo_t* cr) override;
    std::optional<std::string> dumpText() const override { return m_text; }

private:
    std::string m_text;
    int m_keyboardType = kKeyboardTypeDefault;
};

// The text entry screen's view: a bar with the title and the done control over a text view.
// Made with std::make_shared.
class TextEntryView : public View {
public:
    TextEntryView();
    explicit TextEntryView(const Rect& frame);
    const char* className() const override { return "TextEntryView"; }

    const std::string& title() const;
    void setTitle(std::string title);
    const std::shared_ptr<TextView>& textView() const { return m_textView; }
    // "Done" (localized). Its first action traces "text done TEXT"; the screen's own come after.
    const std::shared_ptr<Button>& doneControl() const { return m_done; }

    // Once the screen has appeared: the text view becomes the first responder, traced "text show
    // TITLE|TEXT|TYPE". False when it is not in a window.
    bool beginEditing();
    // The front-most text entry on screen; null when none.
    static TextEntryView* onScreen();

    void layoutSubviews() override;

private:
    void build();

    std::shared_ptr<View> m_bar;
    std::shared_ptr<Label> m_title;
    std::shared_ptr<Button> m_done;
    std::shared_ptr<TextView> m_textView;
};

}  // namespace plat::ui
