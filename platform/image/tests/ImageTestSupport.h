// Picture files for tests: PNGs of every colour type, 8 or 16 bits deep, interlaced or not; JPEGs in colour
// and grey, in memory or written to a file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dktest {

using Bytes = std::vector<uint8_t>;

struct PNGPicture {
    int width = 0;
    int height = 0;
    int colourType = 0;  // PNG_COLOR_TYPE_*
    int bitDepth = 8;    // 8 or 16
    bool interlaced = false;
    // Rows from the top, one value a channel (a palette index for palette images) in the bit depth.
    std::vector<uint16_t> samples;
    std::vector<std::array<uint8_t, 4>> palette;  // RGBA; alphas below 255 become a tRNS chunk
    int gamma = 0;      // a gAMA chunk of this value (100000: linear light); 0: none
    bool sRGB = false;  // an sRGB chunk
};
Bytes makePNG(const PNGPicture& picture);
// A signature, an RGBA header announcing width × height, pixel data holding nothing, the end chunk.
Bytes makePNGHeader(uint32_t width, uint32_t height);

// `channels` 1 (grey) or 3 (RGB), rows from the top.
Bytes makeJPEG(int width, int height, int channels, const Bytes& pixels, int quality = 100);

// 8-bit pixels with `channels` of 1 (grey), 2 (grey, alpha), 3 (RGB) or 4 (RGBA); rows from the top.
// Throws when the file cannot be written.
void writePNG(const std::string& path, int width, int height, int channels, const Bytes& pixels);
void writeJPEG(const std::string& path, int width, int height, const Bytes& rgb, int quality = 100);

}  // namespace dktest
