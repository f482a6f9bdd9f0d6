// Clips the movie player's tests make with libavcodec: raw RGB frames of solid colours at a
// given rate, and optionally a tone, in a NUT file (lossless both ways, so pixels come back exact).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dktest {

using RGB = std::array<uint8_t, 3>;

struct ClipSpec {
    std::vector<RGB> frames;  // one solid colour per frame
    int fps = 10;
    int width = 32, height = 24;
    bool sound = false;  // a 440 Hz mono tone at 8 kHz as long as the frames
};

// False (with the reason) when the clip could not be written.
bool writeClip(const std::string& path, const ClipSpec& spec, std::string* error);

}  // namespace dktest
