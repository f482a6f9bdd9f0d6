// How a host keeps the GL driver's per-frame memory mapped from frame to frame.
#pragma once

namespace plat::gl {

// Sets glibc's mmap and trim thresholds once for the process (see FrameMemory.cpp for why and
// for the values). Call at start-up, before the first frame. Thresholds the environment already
// gives glibc (GLIBC_TUNABLES) are left as they are, so that a benchmark can run the process
// with glibc as shipped, or with thresholds of its own.
void keepFrameMemoryMapped();

}  // namespace plat::gl
