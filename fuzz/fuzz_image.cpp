// Image files as the asset manager loads them: PNG and JPEG (told apart by their content) and
// legacy PVRTC files (told apart by their ending), decoded and uploaded to a headless context.
#include <cstdlib>
#include <memory>

#include "fuzz/FuzzSupport.h"
#include "platform/gl/HeadlessGL.h"
#include "port/DKTextures.h"

namespace {
std::unique_ptr<plat::gl::HeadlessContext> g_context;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("LP_NUM_THREADS", "0", 0);  // no rasterizer threads for LeakSanitizer to trip on
    g_context = plat::gl::HeadlessContext::create(64, 64, plat::gl::Api::ES2, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!g_context) return 0;
    const bool pvr = size > 48 && dk::fuzz::startsWith(data + 44, size - 44, "PVR!");
    SGImage image = DKLoadImageFromFile(dk::fuzz::scratchFile(data, size, pvr ? ".pvrtc" : ".png").c_str());
    if (image.texture) image.freeImage();
    return 0;
}
