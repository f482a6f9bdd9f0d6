#include "platform/ui/Button.h"

#include "platform/foundation/Log.h"
#include "platform/ui/ViewText.h"

namespace plat::ui {

void Button::setTitle(std::string title) {
    m_title = viewText(std::move(title), className());
    setNeedsDisplay();
}

void Button::setTitleColor(const Color& color) {
    m_titleColor = color;
    setNeedsDisplay();
}

void Button::setFont(Font font) {
    m_font = std::move(font);
    setNeedsDisplay();
}

void Button::setImage(const std::string& path) {
    std::string error;
    m_image = path.empty() ? nullptr : Image::fromFile(path, &error);
    if (!path.empty() && !m_image) foundation::log("button: %s", error.c_str());
    setNeedsDisplay();
}

void Button::setImage(std::shared_ptr<Image> image) {
    m_image = std::move(image);
    setNeedsDisplay();
}

void Button::setBackgroundImage(std::shared_ptr<Image> image) {
    m_backgroundImage = std::move(image);
    setNeedsDisplay();
}

void Button::addTarget(const void* target, Action action) {
    if (action) m_targets.push_back({target, std::move(action)});
}

void Button::removeTarget(const void* target) {
    if (target) std::erase_if(m_targets, [target](const Target& t) { return t.target == target; });
}

void Button::sendActions() {
    // Held: an action may remove targets, or the button itself from its tree.
    std::shared_ptr<View> keep = weak_from_this().lock();
    const std::vector<Target> targets = m_targets;
    for (const Target& t : targets) t.action(*this);
}

void Button::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    setNeedsDisplay();
}

void Button::setSelected(bool selected) {
    m_selected = selected;
    setNeedsDisplay();
}

void Button::touchesBegan(const TouchSet&, const Event&) {
    m_tracking = true;
    setHighlighted(true);
}

void Button::touchesMoved(const TouchSet& touches, const Event& event) {
    if (m_tracking) {
        bool inside = false;
        for (const auto& touch : touches) inside = inside || bounds().contains(touch->locationInView(this));
        if (inside != m_highlighted) setHighlighted(inside);
    }
    // Still passed up: a scroll view under the button drags on its moves.
    View::touchesMoved(touches, event);
}

void Button::touchesEnded(const TouchSet& touches, const Event& event) {
    if (!m_tracking) {
        // Taken from the button (a scroll view's drag): the end goes to whoever took it.
        View::touchesEnded(touches, event);
        return;
    }
    m_tracking = false;
    setHighlighted(false);
    for (const auto& touch : touches)
        if (bounds().contains(touch->locationInView(this))) {
            sendActions();
            return;
        }
}

void Button::touchesCancelled(const TouchSet&, const Event&) {
    m_tracking = false;
    setHighlighted(false);
}

void Button::draw(cairo_t* cr) {
    if (m_backgroundImage) drawImage(cr, *m_backgroundImage, bounds());
    if (m_image) drawImage(cr, *m_image, bounds());
    drawText(cr, m_title, m_font, m_titleColor, bounds(), TextAlignment::Center, 1);
}

std::optional<std::string> Button::dumpImage() const {
    const std::shared_ptr<Image>& shown = m_image ? m_image : m_backgroundImage;
    if (!shown) return std::nullopt;
    return shown->fileName();
}

std::optional<std::string> Button::dumpText() const {
    if (m_title.empty()) return std::nullopt;
    return m_title;
}

}  // namespace plat::ui
