#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "platform/ui/Button.h"
#include "platform/ui/Compositor.h"

namespace plat::ui {

namespace {
// How far a finger moves before it drags rather than taps.
constexpr double kDragSlop = 10;
}  // namespace

ScrollView::ScrollView() = default;

ScrollView::ScrollView(const Rect& frame) : View(frame) {}

void ScrollView::setContentSize(Size size) {
    m_contentSize = size;
}

void ScrollView::setContentOffset(Point offset, bool) {
    if (offset == m_contentOffset) return;
    m_contentOffset = offset;
    Compositor::setNeedsCommit();
    if (m_delegate) m_delegate->scrollViewDidScroll(*this);
}

void ScrollView::settle() {
    const Size size = bounds().size();
    Point offset = m_contentOffset;
    if (m_pagingEnabled && size.width > 0) offset.x = std::floor((offset.x + size.width / 2) / size.width) * size.width;
    if (m_pagingEnabled && size.height > 0 && m_contentSize.height > size.height)
        offset.y = std::floor((offset.y + size.height / 2) / size.height) * size.height;
    offset.x = std::clamp(offset.x, 0.0, std::max(0.0, m_contentSize.width - size.width));
    offset.y = std::clamp(offset.y, 0.0, std::max(0.0, m_contentSize.height - size.height));
    setContentOffset(offset);
    if (m_delegate) m_delegate->scrollViewDidEndDecelerating(*this);
}

void ScrollView::touchesBegan(const TouchSet& touches, const Event&) {
    if (m_touch || touches.empty()) return;
    m_touch = touches.front().get();
    m_start = m_touch->locationInView(nullptr);
    m_startOffset = m_contentOffset;
    m_dragging = false;
}

void ScrollView::touchesMoved(const TouchSet& touches, const Event& event) {
    if (!m_touch && !touches.empty()) {
        // A finger that came down on the content: the drag counts from where it was.
        m_touch = touches.front().get();
        m_start = m_touch->previousLocationInView(nullptr);
        m_startOffset = m_contentOffset;
        m_dragging = false;
    }
    for (const auto& touch : touches)
        if (touch.get() == m_touch) follow(*touch, event);
}

void ScrollView::follow(const Touch& touch, const Event& event) {
    const Point at = touch.locationInView(nullptr);
    const double dx = at.x - m_start.x, dy = at.y - m_start.y;
    const Size size = bounds().size();
    const bool vertical = m_contentSize.height > size.height;
    if (!m_dragging) {
        if (std::abs(dx) < kDragSlop && (!vertical || std::abs(dy) < kDragSlop)) return;
        m_dragging = true;
        // The content's button lets the finger go: it will send nothing for this touch.
        if (m_canCancelContentTouches && touch.view() != this)
            if (auto* button = dynamic_cast<Button*>(touch.view())) {
                for (const auto& t : event.allTouches())
                    if (t.get() == &touch) button->touchesCancelled({t}, event);
            }
    }
    Point offset = m_startOffset;
    offset.x = std::clamp(m_startOffset.x - dx, 0.0, std::max(0.0, m_contentSize.width - size.width));
    if (vertical) offset.y = std::clamp(m_startOffset.y - dy, 0.0, m_contentSize.height - size.height);
    setContentOffset(offset);
}

void ScrollView::touchesEnded(const TouchSet& touches, const Event&) {
    for (const auto& touch : touches)
        if (touch.get() == m_touch) {
            m_touch = nullptr;
            if (m_dragging) {
                m_dragging = false;
                settle();
            }
        }
}

void ScrollView::touchesCancelled(const TouchSet& touches, const Event& event) {
    touchesEnded(touches, event);
}

}  // namespace plat::ui
