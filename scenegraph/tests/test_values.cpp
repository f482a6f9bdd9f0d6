// Value records, port conversions and the port-name map.
#include <gtest/gtest.h>

#include <cmath>

#include "scenegraph/IRenderManager.h"
#include "scenegraph/tests/TestNodes.h"

TEST(PortNames, SeventyTwoNamesEachWithItsOwnIdentifier) {
    const auto& map = SGPortNameMap();
    EXPECT_EQ(map.size(), 72u);
    for (const auto& [name, id] : map) EXPECT_EQ(name, SGPortNameForID(id));
    // Spot checks across the list: scripts and saved projects use these numbers.
    for (auto [name, id] : {std::pair{"value", 0}, {"near", 15}, {"blendingMode", 38}, {"wrap", 71}})
        EXPECT_EQ(SGPortIDForName(name), SGPortID(id)) << name;
    EXPECT_FALSE(SGPortIDForName("Value"));
}

TEST(PortConversions, NumbersTextAndNeutralValues) {
    SGNumberPort number;
    for (auto [v, text] : {std::pair{1.0f / 3, "0.33"}, {150.0f, "1.5e+02"}, {12.0f, "12"}}) {
        number.value = v;
        EXPECT_EQ(number.stringValue(), text);
    }
    number.value = -2.7f;
    EXPECT_EQ(number.intValue(), -2);
    number.value = NAN;
    EXPECT_TRUE(number.boolValue());
    EXPECT_EQ(number.intValue(), 0);  // no undefined float-to-int conversion
    number.value = 1e20f;
    EXPECT_EQ(number.intValue(), 2147483647);
    EXPECT_EQ(SGBooleanPort(true).stringValue(), "true");

    // Text reads with stream rules: words are not booleans, garbage is zero.
    SGStringPort text;
    for (auto [s, b] : {std::pair{"true", false}, {"2", true}, {"-1", true}, {"0", false}}) {
        text.value = s;
        EXPECT_EQ(text.boolValue(), b) << s;
    }
    text.value = " 42";
    EXPECT_EQ(text.intValue(), 42);
    text.value = "abc";
    EXPECT_EQ(text.numberValue(), 0.0f);

    // A kind a port does not hold reads as the neutral value.
    EXPECT_EQ(number.colorValue(), SGWhiteColor);
    EXPECT_TRUE(number.imageValue().isNull());
    EXPECT_EQ(SGColorPort().numberValue(), 0.0f);
}

TEST(TextureRect, CropKeepsFractionAlongItsOwnDirection) {
    auto cropped = [](SGTextureRect rect, int anchor) {
        rect.cropHorizontally(0.5f, static_cast<SGAnchorMode>(anchor));
        return rect;
    };
    SGTextureRect unit{0, 0, 1, 1};
    EXPECT_EQ(cropped(unit, 0), (SGTextureRect{0, 0, 0.5f, 1}));
    EXPECT_EQ(cropped(unit, 1), (SGTextureRect{0.25f, 0, 0.75f, 1}));
    EXPECT_EQ(cropped(unit, 7), unit);
    EXPECT_EQ(cropped(SGTextureRect{1, 0, 0, 1}, 2), (SGTextureRect{0.5f, 0, 0, 1}));
}

TEST(Image, PixelSizeComesFromTextureAndRect) {
    SGImage image = SGImageNull;
    image.width = 999;
    image.textureWidth = 512;
    image.textureHeight = 256;
    image.textureRect = {0.625f, 0, 0, 0.5f};  // mirrored horizontally
    EXPECT_EQ(image.getWidth(), 320);
    EXPECT_EQ(image.getHeight(), 128);
}

namespace {
std::vector<uint32_t> deletedTextures;
}

TEST(Image, FreeImageTellsTheES2RendererOnlyWhenItIsInUse) {
    auto previous = SGSetTextureDeletedHandler([](uint32_t name) { deletedTextures.push_back(name); });
    SGImage image = SGImageNull;
    image.texture = 5;  // no GL context here: the delete reaches no driver
    image.freeImage();
    DKShouldUseGLES2 = true;
    image.freeImage();
    DKShouldUseGLES2 = false;
    EXPECT_EQ(deletedTextures, std::vector<uint32_t>{5});
    SGSetTextureDeletedHandler(previous);
}
