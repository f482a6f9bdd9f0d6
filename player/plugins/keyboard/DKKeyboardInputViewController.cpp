#include "player/plugins/keyboard/DKKeyboardInputViewController.h"

#include "platform/ui/Button.h"

void DKKeyboardInputViewController::loadView() {
    auto* app = plat::ui::Application::shared();
    auto entry = std::make_shared<plat::ui::TextEntryView>(app ? app->interfaceBounds() : plat::ui::Rect{});
    entry->doneControl()->addTarget(this, [this](plat::ui::Button&) { finishedEnteringText(); });
    setView(std::move(entry));
}

plat::ui::TextEntryView& DKKeyboardInputViewController::entryView() {
    return static_cast<plat::ui::TextEntryView&>(*view());
}

void DKKeyboardInputViewController::finishedEnteringText() {
    if (m_delegate) m_delegate->keyboardInputDidFinish(*this, entryView().textView()->text());
}

void DKKeyboardInputViewController::viewDidAppear(bool) {
    entryView().textView()->setKeyboardType(m_displayNumberPad ? plat::ui::kKeyboardTypeNumbersAndPunctuation
                                                               : plat::ui::kKeyboardTypeDefault);
    entryView().beginEditing();
}
