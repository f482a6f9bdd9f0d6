#include "platform/foundation/Clock.h"

#include <time.h>

namespace plat::foundation {

namespace {

double secondsOf(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The process clock counts from launch: made while the program loads, not when first read.
[[maybe_unused]] const Clock& kLaunch = Clock::process();

}  // namespace

WorkInFlight::WorkInFlight(std::shared_ptr<Clock> clock, WorkKind kind) : m_clock(std::move(clock)), m_kind(kind) {
    if (!m_clock) return;
    if (m_kind == WorkKind::Task) m_clock->m_tasks.fetch_add(1, std::memory_order_acq_rel);
    m_clock->m_work.fetch_add(1, std::memory_order_acq_rel);
    m_clock->m_workChanges.fetch_add(1, std::memory_order_acq_rel);
}

WorkInFlight& WorkInFlight::operator=(WorkInFlight&& other) noexcept {
    if (this != &other) {
        end();
        m_clock = std::move(other.m_clock);
        m_kind = other.m_kind;
    }
    return *this;
}

void WorkInFlight::end() {
    if (!m_clock) return;
    const bool lastTask =
        m_kind == WorkKind::Task && m_clock->m_tasks.fetch_sub(1, std::memory_order_acq_rel) == 1;
    m_clock->m_workChanges.fetch_add(1, std::memory_order_acq_rel);
    if (m_clock->m_work.fetch_sub(1, std::memory_order_acq_rel) == 1 || lastTask) m_clock->workEnded();
    m_clock.reset();
}

Clock::Clock(Kind kind) : m_virtual(kind == Kind::Virtual), m_origin(monotonicSeconds()) {}

Clock& Clock::process() {
    return *processShared();
}

std::shared_ptr<Clock> Clock::processShared() {
    // Never destroyed: threads may read it while the process exits.
    static auto* clock = new std::shared_ptr<Clock>(std::make_shared<Clock>());
    return *clock;
}

double Clock::now() const {
    if (isVirtual()) return m_virtualNow.load(std::memory_order_acquire);
    return monotonicSeconds() - m_origin.load(std::memory_order_acquire);
}

void Clock::setVirtual(bool isVirtual) {
    std::lock_guard lock(m_mutex);
    if (isVirtual == this->isVirtual()) return;
    if (isVirtual) {
        m_virtualNow.store(now(), std::memory_order_release);
    } else {
        m_origin.store(monotonicSeconds() - m_virtualNow.load(), std::memory_order_release);
    }
    m_virtual.store(isVirtual, std::memory_order_release);
}

void Clock::startVirtualAt(double seconds) {
    std::lock_guard lock(m_mutex);
    m_virtualNow.store(seconds, std::memory_order_release);
    m_virtual.store(true, std::memory_order_release);
}

double Clock::monotonicSeconds() {
    return secondsOf(CLOCK_MONOTONIC);
}

double Clock::wallSeconds() {
    return secondsOf(CLOCK_REALTIME);
}

void Clock::advanceTo(double seconds) {
    std::lock_guard lock(m_mutex);
    if (!isVirtual() || seconds <= m_virtualNow.load(std::memory_order_acquire)) return;
    m_virtualNow.store(seconds, std::memory_order_release);
    for (const Waker& w : m_wakers)
        if (!w.driver) w.wake();
}

std::uint64_t Clock::addWaker(bool driver, std::function<void()> wake) {
    std::lock_guard lock(m_mutex);
    m_wakers.push_back({m_nextWaker, driver, std::move(wake)});
    return m_nextWaker++;
}

void Clock::removeWaker(std::uint64_t id) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_wakers, [id](const Waker& w) { return w.id == id; });
}

void Clock::workEnded() {
    std::lock_guard lock(m_mutex);
    for (const Waker& w : m_wakers)
        if (w.driver) w.wake();
}

}  // namespace plat::foundation
