#include "platform/gl/FrameMemory.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace plat::gl {

namespace {

// The heap's blocks above this are served by mmap. Mesa's per-frame blocks stay far below it
// (the vertex copy of a 20,000-sprite batch is about 4 MB); it is glibc's own ceiling for the
// threshold it otherwise slides after each freed mapping.
constexpr int kMmapThreshold = 32 << 20;
// Free memory at the top of the heap is given back to the system above this. Mesa's frame moves
// the heap top by about 9 MB per 20,000 sprites; this leaves room for ten times that.
constexpr int kTrimThreshold = 128 << 20;

}  // namespace

// Mesa (llvmpipe) allocates its vertex copies and binning blocks afresh for every draw and frees
// them when the frame is done. Under glibc's defaults a block above the mmap threshold is mapped
// and unmapped each time, and the heap top above the trim threshold is handed back with brk
// after every frame, so each frame faults the same pages in again: about 1,500 page faults a
// frame at 20,000 sprites at 320x240, measured, and the main thread's CPU for such a frame at
// 7.6 ms static and 17.5 ms moving against 4.5 and 15.1 ms with these thresholds. Setting them
// also stops glibc from sliding them with the history of the heap, which made the same frame
// cost differently from run to run. The price: up to kTrimThreshold of freed memory at the heap
// top stays with the process.
void keepFrameMemoryMapped() {
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables &&
        (std::strstr(tunables, "malloc.mmap_threshold") || std::strstr(tunables, "malloc.trim_threshold")))
        return;
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
}

}  // namespace plat::gl
