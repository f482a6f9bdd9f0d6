// The image loader and string-to-image nodes against a real manager.
#include <gtest/gtest.h>

#include "engine/assets/SGAssetNodes.h"
#include "engine/assets/tests/AssetTestSupport.h"

using namespace dktest;

namespace {

class AssetNodes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useGL());
        for (auto [name, side] : {std::pair{"a", 4}, std::pair{"b", 8}}) {
            std::string path = dir.file(std::string(name) + ".png");
            writePNG(path, side, side, 4, std::vector<uint8_t>(side * side * 4, 200));
            project.setImagePath(name, path.c_str());
        }
        testing::internal::CaptureStdout();
        manager = std::make_unique<DKEngineAssetManager>(project.L());
        testing::internal::GetCapturedStdout();
    }

    int count(const std::string& name) { return manager->imageAssets().at(name)->getReferenceCount(); }

    ScratchDir dir;
    ScriptProject project;
    std::unique_ptr<DKEngineAssetManager> manager;
};

}  // namespace

TEST_F(AssetNodes, ImageLoaderHoldsOneReferenceToWhatItShows) {
    auto* loader = new SGImageLoaderNode(manager.get());
    EXPECT_TRUE(loader->hasClass(SGNodeClassImageLoaderNode | SGNodeClassAssetLoaderNode));
    EXPECT_TRUE(loader->asset.imageValue().isNull());  // no name yet

    loader->name.setValue("a");
    EXPECT_EQ(loader->asset.imageValue().width, 4);
    EXPECT_EQ(count("a"), 1);
    loader->name.setValue("b");
    EXPECT_EQ(loader->asset.imageValue().width, 8);
    EXPECT_EQ(count("a"), 0);
    EXPECT_EQ(count("b"), 1);
    EXPECT_TRUE(manager->flushPending());

    manager->unloadImage("b");  // loads again on its next read
    EXPECT_TRUE(loader->dirty);
    EXPECT_EQ(loader->asset.imageValue().width, 8);
    EXPECT_EQ(count("b"), 1);

    loader->name.setValue("nothing");
    EXPECT_TRUE(loader->asset.imageValue().isNull());
    loader->release();
    EXPECT_EQ(count("b"), 0);
}

TEST_F(AssetNodes, NoAssetIsReleasedTwice) {
    // The name changes, then the old asset goes before the loader computes again.
    auto* loader = new SGImageLoaderNode(manager.get());
    loader->name.setValue("a");
    loader->asset.imageValue();
    loader->name.setValue("b");
    manager->unloadImage("a");
    EXPECT_TRUE(loader->imageHandle.empty());
    EXPECT_EQ(loader->asset.imageValue().width, 8);
    EXPECT_EQ(count("b"), 1);

    // The manager goes before the node: the node shows nothing and never calls it again.
    manager.reset();
    EXPECT_EQ(loader->assetManager, nullptr);
    loader->name.setValue("a");
    EXPECT_TRUE(loader->asset.imageValue().isNull());
    loader->release();
}

TEST_F(AssetNodes, StringToImageOwnsOneTextureAtATime) {
    auto* label = new SGStringToImageNode(manager.get());
    EXPECT_TRUE(label->image.imageValue().isNull());  // no text
    label->text.setValue("Score");
    SGImage first = label->image.imageValue();
    ASSERT_NE(first.texture, 0u);  // "LucidaGrande" falls back to the default font
    EXPECT_EQ(label->width.numberValue(), static_cast<float>(first.getWidth()));

    label->text.setValue("Score 10");
    SGImage second = label->image.imageValue();
    // The old texture was freed before the new one was made, so GL may hand out the same name.
    EXPECT_TRUE(first.texture == second.texture || !textureExists(first.texture));
    EXPECT_GT(label->width.numberValue(), static_cast<float>(first.getWidth()));

    manager->unloadAllImages();
    EXPECT_FALSE(label->dirty);
    manager->reloadAllImages();  // renders again
    EXPECT_TRUE(label->dirty);
    SGImage third = label->image.imageValue();
    EXPECT_NE(third.texture, 0u);
    EXPECT_TRUE(second.texture == third.texture || !textureExists(second.texture));

    label->font.setValue("");
    EXPECT_TRUE(label->image.imageValue().isNull());
    EXPECT_EQ(label->width.numberValue(), 0.0f);
    EXPECT_FALSE(textureExists(third.texture));

    label->font.setValue("DejaVu Sans");
    label->wrap.setValue(true);
    label->wrapWidth.setValue(64.0f);
    label->wrapHeight.setValue(40.0f);
    SGImage boxed = label->image.imageValue();
    EXPECT_EQ(label->width.numberValue(), 64.0f);
    label->release();
    EXPECT_FALSE(textureExists(boxed.texture));
}
