// Writes the sample game's images (our own pictures), and with APP_DIR its launch images and
// loading spinner: make_sample_images GAMEPROJ_DIR/images [APP_DIR]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "port/tests/TextureTestSupport.h"

namespace {

// A disc with a soft edge: red fading to yellow, transparent outside.
std::vector<uint8_t> logo(int size) {
    std::vector<uint8_t> px(static_cast<size_t>(size) * size * 4);
    double c = (size - 1) / 2.0, r = size * 0.45;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double d = std::hypot(x - c, y - c);
            uint8_t* p = &px[(static_cast<size_t>(y) * size + x) * 4];
            p[0] = 230;
            p[1] = static_cast<uint8_t>(40 + 180.0 * y / size);
            p[2] = 40;
            p[3] = static_cast<uint8_t>(std::clamp((r - d) * 255.0 / (size / 32.0), 0.0, 255.0));
        }
    return px;
}

// An opaque sky-to-grass gradient.
std::vector<uint8_t> backdrop(int w, int h) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
            bool sky = y < h * 2 / 3;
            p[0] = sky ? static_cast<uint8_t>(90 + y) : 40;
            p[1] = sky ? static_cast<uint8_t>(150 + y / 2) : static_cast<uint8_t>(140 + x / 4);
            p[2] = sky ? 230 : 50;
        }
    return px;
}

void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A 32 × 32 PVRTC 4-bit crate: every block dark brown (A) and tan (B), planks drawn by modulation.
std::vector<uint8_t> crate() {
    const uint32_t size = 32, blocks = (size / 4) * (size / 4);
    std::vector<uint8_t> file(52 + blocks * 8, 0);
    put32(file, 0, 52);
    put32(file, 4, size);
    put32(file, 8, size);
    put32(file, 16, 25);
    put32(file, 20, blocks * 8);
    std::memcpy(&file[44], "PVR!", 4);
    uint32_t colours = (0x8000u | 12u << 10 | 6u << 5 | 1u << 1) | (0x8000u | 26u << 10 | 20u << 5 | 10u)
                                                                       << 16;
    uint32_t planks = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            planks |= static_cast<uint32_t>(y == 3 ? 0 : (x == 0 ? 2 : 3)) << (2 * (y * 4 + x));
    for (uint32_t i = 0; i < blocks; ++i) {
        put32(file, 52 + i * 8, planks);
        put32(file, 52 + i * 8 + 4, colours);
    }
    return file;
}

// A launch image: the backdrop's gradient, upright, with the logo's disc in the middle.
std::vector<uint8_t> launchImage(int w, int h) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
    const int size = w / 2;
    const std::vector<uint8_t> disc = logo(size);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            const double t = static_cast<double>(y) / h;
            const double rgb[3] = {20 + 60 * t, 40 + 90 * t, 90 + 120 * t};
            const int lx = x - (w - size) / 2, ly = y - (h - size) / 2;
            const uint8_t* l =
                lx >= 0 && ly >= 0 && lx < size && ly < size ? &disc[(static_cast<size_t>(ly) * size + lx) * 4] : nullptr;
            const double a = l ? l[3] / 255.0 : 0;
            for (int i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>(rgb[i] * (1 - a) + (l ? l[i] : 0) * a);
            p[3] = 255;
        }
    return px;
}

// The loading spinner: twelve white dots round a circle, fading from opaque, on transparency.
std::vector<uint8_t> spinner(int size) {
    std::vector<uint8_t> px(static_cast<size_t>(size) * size * 4);
    const double c = (size - 1) / 2.0, ring = size * 0.36, dot = size * 0.09;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double alpha = 0;
            for (int i = 0; i < 12; ++i) {
                const double angle = i * M_PI / 6;
                const double d = std::hypot(x - (c + ring * std::sin(angle)), y - (c - ring * std::cos(angle)));
                alpha = std::max(alpha, std::clamp(dot - d + 0.5, 0.0, 1.0) * (1 - i / 13.0));
            }
            uint8_t* p = &px[(static_cast<size_t>(y) * size + x) * 4];
            p[0] = p[1] = p[2] = 255;
            p[3] = static_cast<uint8_t>(alpha * 255);
        }
    return px;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: make_sample_images DIR [APP_DIR]\n");
        return 2;
    }
    std::string dir = argv[1];
    dktest::writePNG(dir + "/logo.png", 64, 64, 4, logo(64));
    dktest::writePNG(dir + "/logo@2x.png", 128, 128, 4, logo(128));
    dktest::writeJPEG(dir + "/backdrop.jpg", 120, 80, backdrop(120, 80), 85);
    const auto bytes = crate();
    dktest::writeFile(dir + "/crate.pvrtc", std::string(bytes.begin(), bytes.end()));
    if (argc == 3) {
        const std::string app = argv[2];
        dktest::writePNG(app + "/Default.png", 320, 480, 4, launchImage(320, 480));
        dktest::writePNG(app + "/Default-568h@2x.png", 640, 1136, 4, launchImage(640, 1136));
        dktest::writePNG(app + "/loading_spinner.png", 82, 82, 4, spinner(82));
    }
    return 0;
}
