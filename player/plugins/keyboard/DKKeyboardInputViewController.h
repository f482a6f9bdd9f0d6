// The text entry screen: a title (the prompt), a text view and a done control.
#pragma once

#include <string>

#include "platform/ui/TextView.h"
#include "player/plugins/DKPluginViewController.h"

class DKKeyboardInputViewController;

class DKKeyboardInputViewControllerDelegate {
public:
    virtual ~DKKeyboardInputViewControllerDelegate() = default;
    virtual void keyboardInputDidFinish(DKKeyboardInputViewController&, const std::string& inputText) = 0;
};

// Made with std::make_shared.
class DKKeyboardInputViewController : public DKPluginViewController {
public:
    const char* className() const override { return "DKKeyboardInputViewController"; }

    // Not owned: the delegate clears itself before it goes.
    DKKeyboardInputViewControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(DKKeyboardInputViewControllerDelegate* delegate) { m_delegate = delegate; }
    bool displayNumberPad() const { return m_displayNumberPad; }
    void setDisplayNumberPad(bool on) { m_displayNumberPad = on; }

    void setPrompt(const std::string& prompt) { entryView().setTitle(prompt); }
    void setInitialValue(const std::string& text) { entryView().textView()->setText(text); }
    plat::ui::TextEntryView& entryView();

    // The done control: the text view's text to the delegate.
    void finishedEnteringText();

    void loadView() override;
    // The keyboard the number pad flag asks for, then the text view takes it.
    void viewDidAppear(bool animated) override;

private:
    DKKeyboardInputViewControllerDelegate* m_delegate = nullptr;
    bool m_displayNumberPad = false;
};
