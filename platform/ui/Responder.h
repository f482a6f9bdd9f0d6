// Touches, the events that carry them, and the responders that take them.
#pragma once

#include <memory>
#include <vector>

#include "platform/ui/Orientation.h"

namespace plat::ui {

class View;
class Window;

enum class TouchPhase { Began, Moved, Stationary, Ended, Cancelled };

// One finger from down to up: the same object in every event of its life. Its view is the one hit
// where it began, wherever the finger goes.
class Touch {
public:
    TouchPhase phase() const { return m_phase; }
    double timestamp() const { return m_timestamp; }
    View* view() const { return m_view.get(); }
    // In `view`'s coordinates (null: the window's, which are interface points).
    Point locationInView(const View* view) const;
    Point previousLocationInView(const View* view) const;

private:
    friend class Application;
    std::shared_ptr<View> m_view;
    Point m_location, m_previous;  // the window's coordinates
    TouchPhase m_phase = TouchPhase::Began;
    double m_timestamp = 0;
    bool m_deliverable = false;  // a view takes it (not refused by the multiple-touch rule)
    bool m_began = false;        // its view has had it began
    bool m_finished = false;     // ... and ended or cancelled
};

using TouchSet = std::vector<std::shared_ptr<Touch>>;

// One delivery: every touch down at the time, those that did not change in the phase Stationary.
class Event {
public:
    Event(double timestamp, TouchSet touches) : m_timestamp(timestamp), m_touches(std::move(touches)) {}
    double timestamp() const { return m_timestamp; }
    const TouchSet& allTouches() const { return m_touches; }
    TouchSet touchesForView(const View* view) const;

private:
    double m_timestamp;
    TouchSet m_touches;
};

// What the platform's responders do with touches they do not handle: pass them up, a view to its
// controller (when it is one's view) or its superview, a controller to its view's superview.
class Responder {
public:
    virtual ~Responder() = default;
    virtual Responder* nextResponder() const { return nullptr; }
    virtual void touchesBegan(const TouchSet& touches, const Event& event);
    virtual void touchesMoved(const TouchSet& touches, const Event& event);
    virtual void touchesEnded(const TouchSet& touches, const Event& event);
    virtual void touchesCancelled(const TouchSet& touches, const Event& event);
};

}  // namespace plat::ui
