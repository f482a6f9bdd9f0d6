#include "platform/ui/TextView.h"

#include <glib.h>
#include <pango/pango.h>

#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/UITrace.h"
#include "platform/ui/ViewText.h"

namespace plat::ui {

namespace {

constexpr double kBarHeight = 44;
constexpr double kDoneWidth = 72;
constexpr double kInset = 8;

}  // namespace

TextView::TextView() {
    setBackgroundColor(Color{1, 1, 1, 1});
}

TextView::TextView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color{1, 1, 1, 1});
}

TextView::~TextView() = default;  // the application holds its first responder weakly

void TextView::setText(std::string text) {
    m_text = viewText(std::move(text), className());
    setNeedsDisplay();
}

bool TextView::becomeFirstResponder() {
    Application* app = Application::shared();
    if (!app || !window()) return false;
    app->m_textInput = weak_from_this();
    return true;
}

void TextView::resignFirstResponder() {
    if (Application* app = Application::shared(); app && isFirstResponder()) app->m_textInput.reset();
}

bool TextView::isFirstResponder() const {
    Application* app = Application::shared();
    return app && app->textInputResponder() == this;
}

void TextView::didMoveToWindow() {
    if (!window()) resignFirstResponder();
}

bool TextView::appendText(std::string_view utf8) {
    // A key's text is whole or nothing: none of it is typed when any of it is not view text.
    if (!isViewText(utf8)) {
        foundation::log("text: input that is not UTF-8 (or holds NUL) refused");
        return false;
    }
    m_text += utf8;
    setNeedsDisplay();
    return true;
}

void TextView::deleteBackward() {
    if (m_text.empty()) return;
    // Characters throughout, counted over every byte of the text: Pango's attributes are one per
    // character it walks in the bytes it is given, plus one for the end.
    const char* const begin = m_text.data();
    const glong characters = g_utf8_pointer_to_offset(begin, begin + m_text.size());
    std::vector<PangoLogAttr> attrs(static_cast<size_t>(characters) + 1);
    pango_get_log_attrs(begin, static_cast<int>(m_text.size()), -1, pango_language_get_default(),
                        attrs.data(), static_cast<int>(attrs.size()));
    // Pango's cursor positions are the boundaries of what a reader takes for one character.
    glong last = characters - 1;
    while (last > 0 && !attrs[static_cast<size_t>(last)].is_cursor_position) --last;
    m_text.resize(static_cast<size_t>(g_utf8_offset_to_pointer(begin, last) - begin));
    setNeedsDisplay();
}

void TextView::draw(cairo_t* cr) {
    const Rect b = bounds();
    drawText(cr, m_text, Font{"Helvetica", 17}, Color{0, 0, 0, 1},
             {kInset, kInset, b.width - 2 * kInset, b.height - 2 * kInset}, TextAlignment::Left, 0,
             VerticalAlignment::Top);
}

TextEntryView::TextEntryView() {
    build();
}

TextEntryView::TextEntryView(const Rect& frame) : View(frame) {
    build();
}

void TextEntryView::build() {
    setBackgroundColor(Color{1, 1, 1, 1});
    m_bar = std::make_shared<View>();
    m_bar->setBackgroundColor(Color{0.43, 0.52, 0.64, 1});
    m_title = std::make_shared<Label>();
    m_title->setFont(Font{"Helvetica-Bold", 17});
    m_title->setTextColor(Color{1, 1, 1, 1});
    m_title->setTextAlignment(TextAlignment::Center);
    m_done = std::make_shared<Button>();
    m_done->setTitle(foundation::Bundle::localized("Done"));
    m_done->setBackgroundColor(Color{0.2, 0.35, 0.65, 1});
    m_textView = std::make_shared<TextView>();
    m_done->addTarget(nullptr, [text = std::weak_ptr(m_textView)](Button&) {
        if (auto view = text.lock())
            foundation::trace(kTraceText, [&] { return "done " + traceable(view->text()); });
    });
    m_bar->addSubview(m_title);
    m_bar->addSubview(m_done);
    addSubview(m_bar);
    addSubview(m_textView);
    layoutSubviews();
}

const std::string& TextEntryView::title() const {
    return m_title->text();
}

void TextEntryView::setTitle(std::string title) {
    m_title->setText(std::move(title));
}

bool TextEntryView::beginEditing() {
    if (!m_textView->becomeFirstResponder()) return false;
    foundation::trace(kTraceText, [&] {
        return "show " + traceable(title()) + "|" + traceable(m_textView->text()) + "|" +
               std::to_string(m_textView->keyboardType());
    });
    return true;
}

TextEntryView* TextEntryView::onScreen() {
    Application* app = Application::shared();
    View* found =
        app ? app->frontmostView([](View& view) { return dynamic_cast<TextEntryView*>(&view) != nullptr; })
            : nullptr;
    return static_cast<TextEntryView*>(found);
}

void TextEntryView::layoutSubviews() {
    const Rect b = bounds();
    m_bar->setFrame({0, 0, b.width, kBarHeight});
    m_done->setFrame({b.width - kDoneWidth - kInset, kInset, kDoneWidth, kBarHeight - 2 * kInset});
    m_title->setFrame(
        {kDoneWidth + 2 * kInset, 0, std::max(b.width - 2 * (kDoneWidth + 2 * kInset), 0.0), kBarHeight});
    m_textView->setFrame({0, kBarHeight, b.width, std::max(b.height - kBarHeight, 0.0)});
}

}  // namespace plat::ui
