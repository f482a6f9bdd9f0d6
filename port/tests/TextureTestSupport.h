// Shared by the texture tests: one headless GL context, texture read-back, image file writers;
// scratch directories and files come from tests/support.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace dktest {

// Makes the process's headless ES2 context current (created on first use); false when none.
bool useGL();

// The RGBA bytes of level 0 of a 2D texture, first row = texture coordinate t = 0. Drawn through a
// shader into an RGBA framebuffer, so alpha-only and 5-6-5 textures read back too (alpha-only as
// 0, 0, 0, a).
std::vector<uint8_t> readTexture(uint32_t texture, int width, int height);

bool textureExists(uint32_t texture);

// Writes an image with `channels` of 1 (grey), 2 (grey, alpha), 3 (RGB) or 4 (RGBA); rows from
// the top. Throws when the file cannot be written.
void writePNG(const std::string& path, int width, int height, int channels,
              const std::vector<uint8_t>& pixels);
void writeJPEG(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
               int quality = 100);

}  // namespace dktest
