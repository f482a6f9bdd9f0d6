// Shared by the texture tests: one headless GL context, texture read-back; image file writers come
// from the codec's tests, scratch directories and files from tests/support.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image/tests/ImageTestSupport.h"
#include "tests/support/TestSupport.h"

namespace dktest {

// Makes the process's headless ES2 context current (created on first use); false when none.
bool useGL();

// The RGBA bytes of level 0 of a 2D texture, first row = texture coordinate t = 0. Drawn through a
// shader into an RGBA framebuffer, so alpha-only and 5-6-5 textures read back too (alpha-only as
// 0, 0, 0, a).
std::vector<uint8_t> readTexture(uint32_t texture, int width, int height);

bool textureExists(uint32_t texture);

}  // namespace dktest
