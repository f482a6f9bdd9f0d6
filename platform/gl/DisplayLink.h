// The frame clock: a tick on a run loop once per display refresh (1/60 s) times a frame interval, at
// beats of the loop's clock counted from when it was added. Paused, it arms no timer and resumes on
// the beat; a tick the loop delivers late stands for the last beat passed (no burst); it may
// invalidate or destroy itself in its tick.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/foundation/RunLoop.h"

namespace plat::gl {

// Ticks fall on the beats of the loop's clock counted from when the link was added, so a paused
// link resumes in step with the display; beats missed while the loop was busy are skipped, never
// delivered late in a burst. The loop must outlive the link.
class DisplayLink {
public:
    static constexpr double kRefreshPeriod = 1.0 / 60.0;

    explicit DisplayLink(std::function<void()> tick);
    // Invalidates: no tick comes after the link is gone.
    ~DisplayLink();
    DisplayLink(const DisplayLink&) = delete;
    DisplayLink& operator=(const DisplayLink&) = delete;

    // Refreshes per tick, at least 1. Changed on a running link, the next tick comes that many
    // refreshes after the last one.
    void setFrameInterval(int refreshes);
    int frameInterval() const { return m_interval; }
    double duration() const { return m_interval * kRefreshPeriod; }

    // Starts ticking on `loop` (a link added once stays on its first loop).
    void addToRunLoop(foundation::RunLoop& loop);
    // While paused no tick comes, and the loop is not woken for one.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    // For good: the link never ticks again.
    void invalidate();
    bool isValid() const { return m_valid; }

    // The beat of the tick being delivered (the last one, between ticks), in the loop clock's
    // seconds; 0 before the first.
    double timestamp() const { return m_timestamp; }

private:
    std::int64_t beatsReached() const;
    void arm();
    void fire();

    std::shared_ptr<std::function<void()>> m_tick;
    foundation::RunLoop* m_loop = nullptr;
    foundation::Timer m_timer;
    int m_interval = 1;
    bool m_paused = false;
    bool m_valid = true;
    double m_origin = 0;     // the beat counting starts from
    std::int64_t m_beat = 0;  // the next tick's beat, in frame intervals from the origin
    double m_timestamp = 0;
};

}  // namespace plat::gl
