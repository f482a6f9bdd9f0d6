// Image files and text to textures on llvmpipe, beside the floor: uploading the same pixels
// already decoded. PVRTC is decoded in software here, so its cost is ours alone.
#include <GLES2/gl2.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/gl/HeadlessGL.h"
#include "platform/image/ImageCodec.h"
#include "port/DKTextures.h"
#include "port/PVRTexture.h"

namespace {

const int kSide = 512;

std::string scratch(const std::string& name) {
    static const std::string dir = [] {
        char pattern[] = "/tmp/bench-textures-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return dir + "/" + name;
}

std::vector<uint8_t> picture() {
    std::vector<uint8_t> px(kSide * kSide * 4);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            uint8_t* p = &px[(y * kSide + x) * 4];
            p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y),
            p[2] = static_cast<uint8_t>(x ^ y);
            p[3] = static_cast<uint8_t>(128 + 127 * std::sin(x * 0.05));
        }
    return px;
}

bool setUp() {
    static std::unique_ptr<plat::gl::HeadlessContext> context;
    if (context) return true;
    std::string error;
    context = plat::gl::HeadlessContext::create(16, 16, plat::gl::Api::ES2, &error);
    if (!context) return false;
    plat::image::writePNG(scratch("picture.png"), kSide, kSide, picture(), &error);
    return true;
}

void BM_UploadRGBA(benchmark::State& state) {
    if (!setUp()) return state.SkipWithError("no GL");
    auto px = picture();
    for (auto _ : state) {
        GLuint name;
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kSide, kSide, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        glFinish();
        glDeleteTextures(1, &name);
    }
}
BENCHMARK(BM_UploadRGBA)->Unit(benchmark::kMillisecond);

void BM_LoadPNG(benchmark::State& state) {
    if (!setUp()) return state.SkipWithError("no GL");
    std::string path = scratch("picture.png");
    for (auto _ : state) {
        SGImage image = DKLoadImageFromFile(path.c_str());
        glFinish();
        image.freeImage();
    }
}
BENCHMARK(BM_LoadPNG)->Unit(benchmark::kMillisecond);

void BM_DecodePVRTC(benchmark::State& state) {
    bool twoBits = state.range(0) == 2;
    std::vector<uint8_t> data(DKPVRTCLevelSize(kSide, kSide, twoBits));
    uint32_t seed = 1;
    for (auto& b : data) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    for (auto _ : state) benchmark::DoNotOptimize(DKDecodePVRTC(data.data(), kSide, kSide, twoBits));
}
BENCHMARK(BM_DecodePVRTC)->Arg(4)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_TextLabel(benchmark::State& state) {
    if (!setUp()) return state.SkipWithError("no GL");
    for (auto _ : state) {
        SGImage image =
            DKImageFromString("Score: 12345", "DejaVu Sans", 24, DKTextAlignmentLeft, false, 0, 0);
        glFinish();
        image.freeImage();
    }
}
BENCHMARK(BM_TextLabel)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(scratch(""));
    return 0;
}
