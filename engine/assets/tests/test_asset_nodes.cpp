// The image loader, sound loader and string-to-image nodes against a real manager, made directly
// and through a space.
#include <gtest/gtest.h>

#include "engine/assets/SGAssetNodes.h"
#include "engine/assets/tests/AssetTestSupport.h"
#include "engine/sound/SGSound.h"
#include "port/tests/AudioTestSupport.h"
#include "scenegraph/SGSpace.h"
#include "scenegraph/nodes/SGArithmeticNode.h"
#include "scenegraph/tests/RecordingRenderManager.h"

using namespace dktest;

using AssetNodes = AssetTest;

TEST_F(AssetNodes, ImageLoaderHoldsOneReferenceToWhatItShows) {
    SGImageLoaderNode* loader = showing("a");
    EXPECT_EQ(count("a"), 1);
    loader->name.setValue("b");
    EXPECT_EQ(loader->asset.imageValue().width, 8);
    EXPECT_EQ(count("a"), 0);
    EXPECT_EQ(count("b"), 1);
    EXPECT_TRUE(manager->flushPending());

    loader->name.setValue("nothing");
    EXPECT_TRUE(loader->asset.imageValue().isNull());
    loader->release();
    EXPECT_EQ(count("b"), 0);
}

TEST_F(AssetNodes, NoAssetIsReleasedTwice) {
    // The name changes, then the old asset goes before the loader computes again.
    SGImageLoaderNode* loader = showing("a");
    loader->name.setValue("b");
    manager->unloadImage("a");
    EXPECT_TRUE(loader->imageHandle.empty());
    EXPECT_EQ(loader->asset.imageValue().width, 8);
    EXPECT_EQ(count("b"), 1);
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

    label->font.setValue("");
    EXPECT_TRUE(label->image.imageValue().isNull());
    EXPECT_EQ(label->width.numberValue(), 0.0f);
    EXPECT_FALSE(textureExists(second.texture));

    label->font.setValue("DejaVu Sans");
    label->wrap.setValue(true);
    label->wrapWidth.setValue(64.0f);
    label->wrapHeight.setValue(40.0f);
    SGImage boxed = label->image.imageValue();
    EXPECT_EQ(label->width.numberValue(), 64.0f);
    label->release();
    EXPECT_FALSE(textureExists(boxed.texture));
}

TEST_F(AssetNodes, SpacesMakeTheLoadersOnTheirAssetManager) {
    RecordingRenderers renderers;
    DKInstallAssetNodeMakers();
    SGSpace space(nullptr, manager.get());
    for (uint32_t cls :
         {SGNodeClassImageLoaderNode, SGNodeClassSoundLoaderNode, SGNodeClassStringToImageNode})
        ASSERT_TRUE(space.createNode(cls) && space.nodes().back()->hasClass(cls)) << cls;
    auto* loader = static_cast<SGImageLoaderNode*>(space.nodes()[0]);
    loader->name.setValue("a");
    EXPECT_EQ(loader->asset.imageValue().width, 4);
    EXPECT_EQ(count("a"), 1);
    space.removeAllNodes();
    EXPECT_EQ(count("a"), 0);
}

TEST_F(AssetNodes, AConnectedNameIsMatchedByItsSourcesText) {
    auto* loader = new SGImageLoaderNode(manager.get());
    auto* number = new SGArithmeticNode;  // its output reads "12" as text
    number->input1.setValue(12.0f);
    ASSERT_TRUE(loader->name.setValue(&number->output));
    EXPECT_TRUE(loader->asset.imageValue().isNull());  // no path for "12" yet

    std::string path = dir.file("12.png");
    writePNG(path, 2, 2, 4, std::vector<uint8_t>(16, 9));
    project.setImagePath("12", path.c_str());
    manager->unloadImage("12");  // not loaded: still tells the loaders of that name
    EXPECT_TRUE(loader->dirty);
    EXPECT_EQ(loader->asset.imageValue().width, 2);
    number->release();  // still held by the connection
    loader->release();
}

TEST_F(AssetNodes, SoundLoaderAsksOnEveryReadAndKeepsItsSoundForAnEmptyName) {
    std::string wav = dir.file("beep.wav");
    ASSERT_TRUE(dktest::writeWav(wav, dktest::sine(441, 1, 44100, 440, 0.5), 1, 44100));
    project.setSoundPath("beep", wav.c_str());
    auto* loader = new SGSoundLoaderNode(manager.get());
    EXPECT_EQ(loader->asset.soundValue(), nullptr);  // no name: nothing asked

    loader->name.setValue("beep");
    std::shared_ptr<SGSound> beep = loader->asset.soundValue();
    ASSERT_NE(beep, nullptr);
    EXPECT_TRUE(loader->dirty);  // its own setter marked it again
    ASSERT_EQ(project.run("soundLookups = 0; local f = project.pathForSound; "
                          "project.pathForSound = function(p, n) soundLookups = soundLookups + 1; "
                          "return f(p, n) end"),
              "");
    loader->asset.soundValue();
    loader->asset.soundValue();
    EXPECT_EQ(project.run("assert(soundLookups == 2, soundLookups)"), "");

    loader->name.setValue("");
    EXPECT_EQ(loader->asset.soundValue(), beep);

    loader->name.setValue("silence");  // no path: an empty sound
    EXPECT_EQ(loader->asset.soundValue(), nullptr);
    loader->release();
}

TEST_F(AssetNodes, NumbersShownAsTextKeepTheirTwoDigitForm) {
    auto* label = new SGStringToImageNode(manager.get());
    auto* score = new SGArithmeticNode;
    label->text.setValue(&score->output);
    score->input1.setValue(150.0f);
    EXPECT_EQ(label->text.stringValue(), "1.5e+02");  // what games have always shown
    EXPECT_NE(label->image.imageValue().texture, 0u);
    score->release();
    label->release();
}
