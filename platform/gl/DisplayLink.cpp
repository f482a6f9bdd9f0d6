#include "platform/gl/DisplayLink.h"

#include <cmath>
#include <memory>
#include <utility>

namespace plat::gl {

DisplayLink::DisplayLink(std::function<void()> tick)
    : m_tick(std::make_shared<std::function<void()>>(std::move(tick))) {}

DisplayLink::~DisplayLink() {
    invalidate();
}

void DisplayLink::setFrameInterval(int refreshes) {
    const int interval = refreshes < 1 ? 1 : refreshes;
    if (interval == m_interval) return;
    if (m_loop) {
        // Count the new beats from the last tick (or from the start when none came yet).
        m_origin = m_timestamp > 0 ? m_timestamp : m_origin + (m_beat - 1) * duration();
        m_beat = 1;
    }
    m_interval = interval;
    arm();
}

void DisplayLink::addToRunLoop(foundation::RunLoop& loop) {
    if (m_loop || !m_valid) return;
    m_loop = &loop;
    m_origin = loop.now();
    m_beat = 1;
    arm();
}

void DisplayLink::setPaused(bool paused) {
    if (paused == m_paused) return;
    m_paused = paused;
    if (paused)
        m_timer.invalidate();
    else
        arm();
}

void DisplayLink::invalidate() {
    m_valid = false;
    m_timer.invalidate();
}

// The last beat the clock has reached. A tick whose time the clock reached a hair short of its
// beat counts the beat before; it still stands for its own and the next is armed after it.
std::int64_t DisplayLink::beatsReached() const {
    return static_cast<std::int64_t>(std::floor((m_loop->now() - m_origin) / duration()));
}

void DisplayLink::arm() {
    m_timer.invalidate();
    if (!m_loop || !m_valid || m_paused) return;
    // The first beat not yet past.
    const std::int64_t reached = beatsReached();
    if (reached >= m_beat) m_beat = reached + 1;
    const double now = m_loop->now();
    const double due = m_origin + static_cast<double>(m_beat) * duration();
    m_timer = m_loop->addTimer(due > now ? due - now : 0, [this] { fire(); });
}

void DisplayLink::fire() {
    // A tick the loop delivers late stands for the last beat passed; the ones between are lost.
    const std::int64_t passed = beatsReached();
    if (passed > m_beat) m_beat = passed;
    m_timestamp = m_origin + static_cast<double>(m_beat) * duration();
    ++m_beat;
    // Armed before the call, so a tick that pauses or invalidates the link has the last word; the
    // target is held for the call, so the tick may even destroy the link.
    arm();
    std::shared_ptr<std::function<void()>> tick = m_tick;
    (*tick)();
}

}  // namespace plat::gl
