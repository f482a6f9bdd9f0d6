// The built-in images: sizes, scales and PNG format of each, and the screen's choice of version.
#include <gtest/gtest.h>

#include "orbad/core/OBResourcesController.h"
#include "orbad/core/OBResourcesImages.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/sys/Device.h"

namespace dktest {
namespace {

using orbad::OBResourcesController;

TEST(BuiltInImages, EachIsAn8BitRGBAPNGOfItsSize) {
    const struct {
        const char* name;
        int normal, normalHeight, doubled, doubledHeight;
    } table[] = {
        {"forwardImage", 15, 17, 32, 40},   {"backImage", 15, 17, 32, 40},
        {"closeBoxImage", 30, 30, 60, 60},  {"closeBlankImage", 30, 30, 60, 60},
        {"closeIconImage", 10, 10, 20, 20}, {"playVideoImage", 47, 47, 47, 47},
    };
    ASSERT_EQ(orbad::kEmbeddedImageCount, 11u);
    auto controller = OBResourcesController::sharedResources();
    for (const auto& row : table) {
        for (bool use2x : {false, true}) {
            auto image = controller->imageNamed(row.name, use2x);
            ASSERT_TRUE(image) << row.name;
            const bool doubled = use2x && std::string(row.name) != "playVideoImage";
            EXPECT_EQ(image->pixelWidth(), doubled ? row.doubled : row.normal) << row.name;
            EXPECT_EQ(image->pixelHeight(), doubled ? row.doubledHeight : row.normalHeight) << row.name;
            EXPECT_EQ(image->scale(), doubled ? 2.0 : 1.0) << row.name;
        }
    }
    for (size_t i = 0; i < orbad::kEmbeddedImageCount; ++i) {
        const orbad::Data png = orbad::orbadDataFromBase64EncodedString(orbad::kEmbeddedImages[i].base64);
        ASSERT_GT(png.size(), 26u);
        EXPECT_EQ(png[24], 8) << "bit depth of " << orbad::kEmbeddedImages[i].name;
        EXPECT_EQ(png[25], 6) << "colour type (RGBA) of " << orbad::kEmbeddedImages[i].name;
    }
    EXPECT_EQ(controller->imageNamed("nothing", false), nullptr);
}

TEST(BuiltInImages, ScreenScaleChoosesAndEachCallDecodesAnew) {
    auto& device = plat::sys::Device::current();
    auto controller = OBResourcesController::sharedResources();
    ASSERT_TRUE(device.setPreset("phone"));
    EXPECT_FALSE(controller->use2x());
    EXPECT_EQ(controller->closeBoxImage()->pixelWidth(), 30);
    ASSERT_TRUE(device.setPreset("phone-retina"));
    EXPECT_TRUE(controller->use2x());
    EXPECT_EQ(controller->closeBoxImage()->pixelWidth(), 60);
    EXPECT_EQ(controller->playVideoImage()->scale(), 1.0);
    EXPECT_NE(controller->forwardImage(), controller->forwardImage());
    device.reset();
    OBResourcesController::shutdown();
    EXPECT_NE(OBResourcesController::sharedResources(), nullptr);
}

}  // namespace
}  // namespace dktest
