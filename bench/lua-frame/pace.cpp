// Preloaded into dk-engine-cli by the harness: the host ends each frame with glFlush, which on
// llvmpipe queues the frame and returns, so the next frame's work would overlap this one's
// rasterising. Turning that flush into glFinish finishes every frame before the next begins, as a
// presenting view (and LÖVE's present on Xvfb) does.
#include <dlfcn.h>

extern "C" void glFlush() {
    using Finish = void (*)();
    static Finish finish = reinterpret_cast<Finish>(dlsym(RTLD_NEXT, "glFinish"));
    if (finish) finish();
}
