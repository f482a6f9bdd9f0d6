// A scroll view: content larger than the view, moved by its content offset (the bounds' origin),
// dragged by a finger, settling on whole pages when paging is on.
#pragma once

#include "platform/ui/View.h"

namespace plat::ui {

class ScrollView;

// Every operation optional.
class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView&) {}
    // The content has come to rest after a drag (or a settle the driver asks for).
    virtual void scrollViewDidEndDecelerating(ScrollView&) {}
};

class ScrollView : public View {
public:
    ScrollView();
    explicit ScrollView(const Rect& frame);
    const char* className() const override { return "UIScrollView"; }

    Size contentSize() const { return m_contentSize; }
    void setContentSize(Size size);
    // Set as given (not held inside the content); the delegate hears of a change.
    Point contentOffset() const { return m_contentOffset; }
    void setContentOffset(Point offset, bool animated = false);
    Point boundsOrigin() const override { return m_contentOffset; }

    bool isPagingEnabled() const { return m_pagingEnabled; }
    void setPagingEnabled(bool on) { m_pagingEnabled = on; }
    // Recorded: this scroll view draws no indicators, does not bounce, and moves vertically only
    // when its content is taller than it.
    bool showsVerticalScrollIndicator() const { return m_showsVerticalIndicator; }
    void setShowsVerticalScrollIndicator(bool on) { m_showsVerticalIndicator = on; }
    bool alwaysBounceVertical() const { return m_alwaysBounceVertical; }
    void setAlwaysBounceVertical(bool on) { m_alwaysBounceVertical = on; }
    bool alwaysBounceHorizontal() const { return m_alwaysBounceHorizontal; }
    void setAlwaysBounceHorizontal(bool on) { m_alwaysBounceHorizontal = on; }
    // A drag that starts on a button inside takes the touch from it (the button sends nothing).
    bool canCancelContentTouches() const { return m_canCancelContentTouches; }
    void setCanCancelContentTouches(bool on) { m_canCancelContentTouches = on; }
    bool delaysContentTouches() const { return m_delaysContentTouches; }
    void setDelaysContentTouches(bool on) { m_delaysContentTouches = on; }

    // Not owned; the owner clears it before it goes.
    ScrollViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(ScrollViewDelegate* delegate) { m_delegate = delegate; }

    bool isDragging() const { return m_dragging; }
    // The content comes to rest where it is (on the nearest page when paging, inside the content)
    // and the delegate hears scrollViewDidEndDecelerating.
    void settle();

    // Drags reach the scroll view from its own touches and, through the responder chain, from
    // touches that began on its content.
    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

private:
    void follow(const Touch& touch, const Event& event);

    Size m_contentSize;
    Point m_contentOffset;
    ScrollViewDelegate* m_delegate = nullptr;
    const Touch* m_touch = nullptr;  // the finger dragging, while it is down
    Point m_start, m_startOffset;
    bool m_dragging = false;
    bool m_pagingEnabled = false;
    bool m_showsVerticalIndicator = true;
    bool m_alwaysBounceVertical = false;
    bool m_alwaysBounceHorizontal = false;
    bool m_canCancelContentTouches = true;
    bool m_delaysContentTouches = true;
};

}  // namespace plat::ui
