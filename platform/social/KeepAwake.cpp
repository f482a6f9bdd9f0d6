#include "platform/social/KeepAwake.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>

namespace plat::social {

std::shared_ptr<KeepAwake> KeepAwake::onCurrentLoop() {
    foundation::RunLoop& loop = foundation::RunLoop::current();
    return loop.clock().isVirtual() ? std::make_shared<KeepAwake>(loop) : nullptr;
}

void KeepAwake::release(std::shared_ptr<KeepAwake> keepAwake) {
    if (!keepAwake) return;
    foundation::RunLoop& loop = keepAwake->m_loop;
    loop.perform([keepAwake = std::move(keepAwake)]() mutable { keepAwake.reset(); });
}

KeepAwake::KeepAwake(foundation::RunLoop& loop)
    : m_loop(loop), m_fd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    if (m_fd < 0) return;
    const itimerspec every{{0, 2'000'000}, {0, 2'000'000}};
    timerfd_settime(m_fd, 0, &every, nullptr);
    m_source = loop.addFdSource(m_fd, foundation::kFdRead, [fd = m_fd](unsigned) {
        std::uint64_t ticks = 0;
        if (read(fd, &ticks, sizeof ticks) < 0) ticks = 0;
    });
}

KeepAwake::~KeepAwake() {
    m_source.remove();
    if (m_fd >= 0) close(m_fd);
}

}  // namespace plat::social
