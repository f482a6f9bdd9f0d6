// The texture tests' fixture: the headless GL context current, a scratch folder, and the screen
// scale at 1 before and after each test.
#pragma once

#include <gtest/gtest.h>

#include "port/DKTextures.h"
#include "port/tests/TextureTestSupport.h"

namespace dktest {

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useGL());
        DKSetScreenScale(1.0f);
    }
    void TearDown() override { DKSetScreenScale(1.0f); }
    // Writes `bytes` as a file of this test's folder and loads it as an image.
    SGImage load(const std::string& bytes, const char* name = "t.pvrtc") {
        writeFile(dir.file(name), bytes);
        return DKLoadImageFromFile(dir.file(name).c_str());
    }

    TempDir dir;
};

}  // namespace dktest
