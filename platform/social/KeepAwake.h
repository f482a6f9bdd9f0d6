// A virtual clock gives work in flight 10 ms of real time before each jump. An answer from another
// thread that takes longer (a sanitized build, a busy machine) must not find the loop awaiting it
// past the time it was awaited at: while a KeepAwake lives, a real-time kernel timer ticks on that
// loop, so its waits never run out.
#pragma once

#include <memory>

#include "platform/foundation/RunLoop.h"

namespace plat::social {

class KeepAwake {
public:
    // On the calling thread's loop; null when its clock is real (nothing to hold).
    static std::shared_ptr<KeepAwake> onCurrentLoop();
    // From any thread, once the answer has been posted to the loop: let go there, after it.
    static void release(std::shared_ptr<KeepAwake> keepAwake);

    explicit KeepAwake(foundation::RunLoop& loop);
    ~KeepAwake();
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;

private:
    foundation::RunLoop& m_loop;
    int m_fd;
    foundation::FdSource m_source;
};

}  // namespace plat::social
