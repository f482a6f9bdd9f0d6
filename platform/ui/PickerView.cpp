#include "platform/ui/PickerView.h"

#include <cairo.h>

#include <algorithm>

#include "platform/foundation/LocalServices.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewText.h"

namespace plat::ui {

namespace {

const Font kRowFont{"Helvetica-Bold", 20};

// The script's picker commands act on the picker on screen; null (ignored) when there is none or
// it cannot do what is asked.
void registerCommands() {
    static bool registered = false;
    if (registered) return;
    registered = true;
    const auto onPicker = [](std::function<bool(PickerView&)> can, std::function<void(PickerView&)> act) {
        PickerView* picker = PickerView::onScreen();
        if (!picker || !can(*picker)) return std::function<void()>();
        return std::function<void()>([weak = picker->weak_from_this(), act] {
            if (auto live = std::static_pointer_cast<PickerView>(weak.lock())) act(*live);
        });
    };
    foundation::registerServiceCommand("picker.select", [onPicker](const std::vector<std::string>& arguments) {
        const int row = arguments.empty() ? -1 : std::stoi(arguments[0]);
        return onPicker([row](PickerView& p) { return row >= 0 && row < p.numberOfRows(); },
                        [row](PickerView& p) { p.chooseRow(row); });
    });
    foundation::registerServiceCommand("picker.done", [onPicker](const auto&) {
        return onPicker([](PickerView&) { return true; }, [](PickerView& p) { p.pressDone(); });
    });
    foundation::registerServiceCommand("picker.cancel", [onPicker](const auto&) {
        return onPicker([](PickerView&) { return true; }, [](PickerView& p) { p.pressCancel(); });
    });
}

}  // namespace

PickerView::PickerView() {
    setBackgroundColor(Color{0.85, 0.86, 0.9, 1});
    registerCommands();
}

PickerView::PickerView(const Rect& frame) : View(frame) {
    setBackgroundColor(Color{0.85, 0.86, 0.9, 1});
    registerCommands();
}

void PickerView::setDelegate(PickerViewDelegate* delegate) {
    m_delegate = delegate;
    reloadAllComponents();
}

void PickerView::reloadAllComponents() {
    m_titles.clear();
    m_componentWidth = 0;
    if (m_delegate) {
        const int rows = std::max(m_delegate->numberOfRows(*this), 0);
        for (int row = 0; row < rows; ++row)
            m_titles.push_back(viewText(m_delegate->titleForRow(*this, row), className()));
        m_componentWidth = m_delegate->widthForComponent(*this);
    }
    selectRow(m_selected);
}

void PickerView::selectRow(int row) {
    m_selected = m_titles.empty() ? -1 : std::clamp(row, 0, numberOfRows() - 1);
    setNeedsDisplay();
}

bool PickerView::chooseRow(int row) {
    if (row < 0 || row >= numberOfRows()) return false;
    selectRow(row);
    // Held: the delegate may take the picker off its screen.
    auto keep = shared_from_this();
    if (m_delegate) m_delegate->didSelectRow(*this, row);
    return true;
}

void PickerView::setControls(std::function<void()> done, std::function<void()> cancel) {
    m_done = std::move(done);
    m_cancel = std::move(cancel);
}

bool PickerView::pressDone() {
    if (!m_done) return false;
    auto done = m_done;  // the control may drop the picker
    done();
    return true;
}

bool PickerView::pressCancel() {
    if (!m_cancel) return false;
    auto cancel = m_cancel;
    cancel();
    return true;
}

PickerView* PickerView::onScreen() {
    Application* app = Application::shared();
    View* found =
        app ? app->frontmostView([](View& view) { return dynamic_cast<PickerView*>(&view) != nullptr; }) : nullptr;
    return static_cast<PickerView*>(found);
}

int PickerView::firstVisibleRow() const {
    // The selection kept in the middle of the rows shown, as far as the list allows.
    const int last = std::max(numberOfRows() - kVisibleRows, 0);
    return std::clamp(m_selected - kVisibleRows / 2, 0, last);
}

Rect PickerView::componentRect() const {
    const Rect b = bounds();
    const double width = m_componentWidth > 0 ? std::min(m_componentWidth, b.width) : b.width;
    return {(b.width - width) / 2, 0, width, b.height};
}

int PickerView::rowAtPoint(Point point) const {
    const Rect component = componentRect();
    if (!component.contains(point) || rowHeight() <= 0) return -1;
    const int row = firstVisibleRow() + static_cast<int>(point.y / rowHeight());
    return row < numberOfRows() ? row : -1;
}

void PickerView::touchesBegan(const TouchSet& touches, const Event&) {
    m_tracking = touches.empty() ? -1 : rowAtPoint(touches.front()->locationInView(this));
}

void PickerView::touchesEnded(const TouchSet& touches, const Event&) {
    const int began = m_tracking;
    m_tracking = -1;
    if (began >= 0 && !touches.empty() && rowAtPoint(touches.front()->locationInView(this)) == began) chooseRow(began);
}

void PickerView::draw(cairo_t* cr) {
    const Rect component = componentRect();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, component.x, component.y, component.width, component.height);
    cairo_fill(cr);
    const double height = rowHeight();
    const int first = firstVisibleRow();
    for (int i = 0; i < kVisibleRows && first + i < numberOfRows(); ++i) {
        const int row = first + i;
        const Rect rect{component.x, i * height, component.width, height};
        const bool selected = row == m_selected;
        if (selected) {
            cairo_set_source_rgba(cr, 0.45, 0.55, 0.85, 0.6);
            cairo_rectangle(cr, rect.x, rect.y, rect.width, rect.height);
            cairo_fill(cr);
        }
        drawText(cr, m_titles[static_cast<size_t>(row)], kRowFont, Color{0, 0, 0, 1},
                 {rect.x + 8, rect.y, std::max(rect.width - 16, 0.0), rect.height}, TextAlignment::Center, 1);
    }
}

std::optional<std::string> PickerView::dumpText() const {
    std::string text;
    for (int row = 0; row < numberOfRows(); ++row) {
        if (row) text += '\n';
        text += (row == m_selected ? "> " : "  ") + m_titles[static_cast<size_t>(row)];
    }
    return text;
}

}  // namespace plat::ui
