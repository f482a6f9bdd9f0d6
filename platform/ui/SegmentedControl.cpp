#include "platform/ui/SegmentedControl.h"

#include <algorithm>

#include "platform/ui/TextMeasure.h"

namespace plat::ui {

namespace {
const Color kSelected{0.2, 0.4, 0.8, 1}, kPlain{0.3, 0.3, 0.3, 1};
constexpr double kHeight = 30, kPadding = 12;
}  // namespace

SegmentedControl::SegmentedControl(std::vector<std::string> titles) {
    for (size_t i = 0; i < titles.size(); ++i) {
        auto segment = std::make_shared<Button>();
        segment->setTitle(titles[i]);
        segment->setTitleColor({1, 1, 1, 1});
        segment->setBackgroundColor(kPlain);
        segment->addTarget(this, [this, i](Button&) { select(int(i)); });
        addSubview(segment);
        m_segments.push_back(segment);
    }
    sizeToFit();
}

std::string SegmentedControl::titleForSegment(size_t index) const {
    return index < m_segments.size() ? m_segments[index]->title() : std::string();
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
    if (index < -1 || index >= int(m_segments.size())) return;
    m_selected = index;
    for (size_t i = 0; i < m_segments.size(); ++i)
        m_segments[i]->setBackgroundColor(int(i) == m_selected ? kSelected : kPlain);
}

void SegmentedControl::select(int index) {
    if (index == m_selected || index < 0 || index >= int(m_segments.size())) return;
    setSelectedSegmentIndex(index);
    const auto actions = m_actions;
    for (const auto& [target, action] : actions) action(*this);
}

void SegmentedControl::sizeToFit() {
    double width = 0;
    for (const auto& segment : m_segments)
        width += measureText(segment->title(), Font{"Helvetica-Bold", 13}, {1e6, 1e6}, 1).width + 2 * kPadding;
    Rect f = frame();
    setFrame({f.x, f.y, width, kHeight});
}

void SegmentedControl::layoutSubviews() {
    if (m_segments.empty()) return;
    const double each = bounds().width / double(m_segments.size());
    for (size_t i = 0; i < m_segments.size(); ++i) m_segments[i]->setFrame({each * double(i), 0, each, bounds().height});
}

}  // namespace plat::ui
