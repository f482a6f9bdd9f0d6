// Value records, port conversions and the port-name map.
#include <gtest/gtest.h>

#include <cmath>

#include "scenegraph/IRenderManager.h"
#include "scenegraph/SGImage.h"
#include "scenegraph/SGPortID.h"
#include "scenegraph/tests/TestNodes.h"

TEST(PortNames, MapHoldsEveryNameOnceWithItsIdentifier) {
    const auto& map = SGPortNameMap();
    EXPECT_EQ(map.size(), 72u);
    std::vector<bool> seen(72, false);
    for (const auto& [name, id] : map) {
        int i = static_cast<int>(id);
        ASSERT_TRUE(i >= 0 && i < 72) << name;
        EXPECT_FALSE(seen[i]) << name;
        seen[i] = true;
        EXPECT_EQ(name, SGPortNameForID(id));
    }
    // Spot checks across the list: the scripts and saved projects use these numbers.
    EXPECT_EQ(SGPortIDForName("value"), SGPortID{0});
    EXPECT_EQ(SGPortIDForName("near"), SGPortID{15});
    EXPECT_EQ(SGPortIDForName("image"), SGPortID{22});
    EXPECT_EQ(SGPortIDForName("x"), SGPortID{28});
    EXPECT_EQ(SGPortIDForName("blendingMode"), SGPortID{38});
    EXPECT_EQ(SGPortIDForName("width"), SGPortID{55});
    EXPECT_EQ(SGPortIDForName("wrap"), SGPortID{71});
    EXPECT_FALSE(SGPortIDForName("Value"));
    EXPECT_FALSE(SGPortIDForName(""));
}

TEST(PortConversions, NumberReadAsOtherKinds) {
    SGNumberPort port;
    auto textOf = [&](float v) {
        port.value = v;
        return port.stringValue();
    };
    EXPECT_EQ(textOf(2.5f), "2.5");
    EXPECT_EQ(textOf(1.0f / 3.0f), "0.33");
    EXPECT_EQ(textOf(150.0f), "1.5e+02");
    EXPECT_EQ(textOf(12.0f), "12");
    EXPECT_EQ(textOf(1234.5f), "1.2e+03");

    port.value = -2.7f;
    EXPECT_EQ(port.intValue(), -2);
    EXPECT_TRUE(port.boolValue());
    port.value = 0.0f;
    EXPECT_FALSE(port.boolValue());
    port.value = NAN;
    EXPECT_TRUE(port.boolValue());
    EXPECT_EQ(port.intValue(), 0);  // no undefined float-to-int conversion
    port.value = 1e20f;
    EXPECT_EQ(port.intValue(), 2147483647);
}

TEST(PortConversions, TextParsesWithStreamRules) {
    SGStringPort port;
    port.value = "true";
    EXPECT_FALSE(port.boolValue());
    port.value = "1";
    EXPECT_TRUE(port.boolValue());
    port.value = "2";
    EXPECT_TRUE(port.boolValue());
    port.value = "-1";
    EXPECT_TRUE(port.boolValue());
    port.value = "0";
    EXPECT_FALSE(port.boolValue());
    port.value = " 42";
    EXPECT_EQ(port.numberValue(), 42.0f);
    EXPECT_EQ(port.intValue(), 42);
    port.value = "abc";
    EXPECT_EQ(port.numberValue(), 0.0f);
    EXPECT_EQ(port.intValue(), 0);
    EXPECT_FALSE(port.boolValue());
    port.value = "3.75xyz";
    EXPECT_EQ(port.numberValue(), 3.75f);
}

TEST(PortConversions, IntegerBooleanAndForeignKinds) {
    SGIntegerPort integer(-7);
    EXPECT_EQ(integer.stringValue(), "-7");
    EXPECT_EQ(integer.numberValue(), -7.0f);
    EXPECT_TRUE(integer.boolValue());

    SGBooleanPort flag(true);
    EXPECT_EQ(flag.stringValue(), "true");
    EXPECT_EQ(flag.numberValue(), 1.0f);
    EXPECT_EQ(flag.intValue(), 1);

    // A kind the port does not hold reads as the neutral value.
    SGNumberPort number(5.0f);
    EXPECT_EQ(number.colorValue(), SGWhiteColor);
    EXPECT_TRUE(number.imageValue().isNull());
    EXPECT_EQ(number.soundValue(), nullptr);
    SGColorPort color(SGBlackColor);
    EXPECT_EQ(color.stringValue(), "");
    EXPECT_EQ(color.numberValue(), 0.0f);
}

TEST(TextureRect, CropKeepsFractionAlongItsOwnDirection) {
    auto cropped = [](SGTextureRect rect, SGAnchorMode anchor) {
        rect.cropHorizontally(0.5f, anchor);
        return rect;
    };
    SGTextureRect unit{0, 0, 1, 1};
    EXPECT_EQ(cropped(unit, SGAnchorStart), (SGTextureRect{0, 0, 0.5f, 1}));
    EXPECT_EQ(cropped(unit, SGAnchorCentre), (SGTextureRect{0.25f, 0, 0.75f, 1}));
    EXPECT_EQ(cropped(unit, SGAnchorEnd), (SGTextureRect{0.5f, 0, 1, 1}));
    EXPECT_EQ(cropped(unit, static_cast<SGAnchorMode>(7)), unit);
    EXPECT_EQ(cropped(SGTextureRect{1, 0, 0, 1}, SGAnchorEnd), (SGTextureRect{0.5f, 0, 0, 1}));

    SGTextureRect vertical{0, 1, 1, 0};
    vertical.cropVertically(0.25f, SGAnchorStart);
    EXPECT_EQ(vertical, (SGTextureRect{0, 1, 1, 0.75f}));
    vertical.flipVertically();
    EXPECT_EQ(vertical.getHeight(), 0.25f);
}

TEST(Image, PixelSizeComesFromTextureAndRect) {
    SGImage image = SGImageNull;
    EXPECT_TRUE(image.isNull());
    image.width = 999;
    image.textureWidth = 512;
    image.textureHeight = 256;
    image.textureRect = {0.625f, 0, 0, 0.5f};  // mirrored horizontally
    EXPECT_EQ(image.getWidth(), 320);
    EXPECT_EQ(image.getHeight(), 128);
    EXPECT_FALSE(image.isNull());
}

namespace {
std::vector<uint32_t> deletedTextures;
void recordDeleted(uint32_t name) {
    deletedTextures.push_back(name);
}
}  // namespace

TEST(Image, FreeImageTellsTheES2RendererOnlyWhenItIsInUse) {
    SGTextureDeletedHandler previous = SGSetTextureDeletedHandler(recordDeleted);
    deletedTextures.clear();
    SGImage image = SGImageNull;
    image.texture = 5;  // no GL context here: the call reaches no driver
    DKShouldUseGLES2 = false;
    image.freeImage();
    EXPECT_TRUE(deletedTextures.empty());
    DKShouldUseGLES2 = true;
    image.freeImage();
    DKShouldUseGLES2 = false;
    EXPECT_EQ(deletedTextures, std::vector<uint32_t>{5});
    SGSetTextureDeletedHandler(previous);
}
