// The manager with the loader nodes that use it: sharing, counts, clean-up, flush, failed files,
// and loaders that outlive the manager.
#include <gtest/gtest.h>

#include "engine/assets/tests/AssetTestSupport.h"
#include "engine/sound/SGSound.h"
#include "port/tests/AudioTestSupport.h"
#include "scenegraph/nodes/SGArithmeticNode.h"

namespace dktest {

using AssetManager = AssetTest;
using Names = std::set<std::string>;

TEST_F(AssetManager, HandlesShareOneAssetAndCountIt) {
    {
        DKAssetHandle<SGImage> first = manager->imageForName("a");
        DKAssetHandle<SGImage> second = manager->imageForName("a");
        EXPECT_EQ(first.asset(), second.asset());
        EXPECT_EQ(first.get()->width, 4);
        DKAssetHandle<SGImage> copy = first;
        copy = second;  // same asset: one retain, one release
        EXPECT_EQ(count("a"), 3);
        EXPECT_FALSE(manager->flushPending());
    }
    // The last handle went: a flush is due, but nothing is removed until it happens.
    EXPECT_TRUE(manager->flushPending());
    EXPECT_EQ(imageNames(), (Names{"a"}));
    EXPECT_EQ(lookups["a"], 2);  // asked on every request, loaded once
}

TEST_F(AssetManager, FlushRemovesEveryAssetOnceACountFellToZero) {
    SGImageLoaderNode *showsA = showing("a"), *showsB = showing("b");
    manager->flushAssetList();  // nothing released yet: no effect
    EXPECT_EQ(imageNames(), (Names{"a", "b"}));
    uint32_t textureB = showsB->asset.imageValue().texture;

    showsA->name.setValue("c");
    showsA->asset.imageValue();  // lets go of a: its count falls to 0
    // Removes b and c too, though they are in use; asking the loaders their names loads nothing back.
    manager->flushAssetList();
    EXPECT_TRUE(manager->imageAssets().empty());
    EXPECT_TRUE(showsB->dirty && !showsB->loaderHeldAsset() && !showsA->loaderHeldAsset());
    EXPECT_FALSE(textureExists(textureB));

    EXPECT_EQ(showsB->asset.imageValue().width, 8);  // loads again on its next read
    manager->flushAssetList();                       // the flag was cleared: a second flush does nothing
    EXPECT_EQ(imageNames(), (Names{"b"}));
    showsA->release();
    showsB->release();
}

TEST_F(AssetManager, UnloadAndCleanupUpdateTheLoadersOfThoseNames) {
    SGImageLoaderNode *showsA = showing("a"), *showsB = showing("b"), *showsX = showing("x");
    manager->loadImageForName("c");
    manager->unloadImage("x");  // not loaded: its loaders are still told
    EXPECT_TRUE(showsX->dirty && !showsA->dirty);

    manager->cleanupUnusedImages({"a"});
    EXPECT_EQ(imageNames(), (Names{"a"}));
    EXPECT_TRUE(showsB->dirty && !showsB->loaderHeldAsset() && !showsA->dirty);

    manager->unloadAllImages();
    EXPECT_TRUE(manager->imageAssets().empty());
    EXPECT_TRUE(showsA->dirty && !showsA->loaderHeldAsset());

    manager->loadNewImages({"a", "b", "nothing"});
    EXPECT_EQ(imageNames(), (Names{"a", "b"}));
    for (SGNode* n : {showsA, showsB, showsX}) n->release();
}

TEST_F(AssetManager, MissingPathsAndUnreadableFiles) {
    EXPECT_TRUE(manager->imageForName("nothing").empty());
    imagePaths["broken"] = dir.file("broken.png");
    writeFile(imagePaths["broken"], "\x01\x02\x03");
    DKAssetHandle<SGImage> handle = manager->imageForName("broken");
    ASSERT_FALSE(handle.empty());
    EXPECT_TRUE(handle.get()->isNull());
    EXPECT_EQ(imageNames(), (Names{"broken"}));
}

TEST_F(AssetManager, LoadersMayOutliveTheManager) {
    SGImageLoaderNode* image = showing("a");
    auto* label = new SGStringToImageNode(manager.get());
    auto* sound = new SGSoundLoaderNode(manager.get());
    manager.reset();
    EXPECT_FALSE(image->loaderHeldAsset());
    // The nodes show nothing and never call the manager again; nothing is released twice (ASan).
    image->name.setValue("b");
    sound->name.setValue("b");
    EXPECT_TRUE(image->asset.imageValue().isNull());
    EXPECT_EQ(sound->asset.soundValue(), nullptr);
    for (SGNode* n : std::initializer_list<SGNode*>{image, label, sound}) n->release();
}

TEST_F(AssetManager, SoundsAreSharedAndFailedOnesReported) {
    soundPaths = {{"beep", dir.file("beep.wav")}, {"bad", dir.file("bad.ogg")}};
    ASSERT_TRUE(dktest::writeWav(soundPaths["beep"], dktest::sine(441, 1, 44100, 440, 0.5), 1, 44100));
    writeFile(soundPaths["bad"], "not");

    auto* beep = new SGSoundLoaderNode(manager.get());
    beep->name.setValue("beep");
    std::shared_ptr<SGSound> held = beep->asset.soundValue();
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(manager->soundForName("beep"), held);  // one sound, shared
    beep->name.setValue("");                         // an empty name keeps the last sound
    EXPECT_EQ(beep->asset.soundValue(), held);
    beep->name.setValue("beep");

    testing::internal::CaptureStderr();
    EXPECT_EQ(manager->soundForName("bad"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "DKSoundAsset::loadAsset error loading " + soundPaths["bad"]);
    EXPECT_EQ(manager->soundForName("silence"), nullptr);  // no path: nothing loaded
    EXPECT_EQ(manager->soundAssets().size(), 2u);          // "bad" stays loaded, without a sound

    manager->cleanupUnusedSounds({"bad"});
    EXPECT_TRUE(beep->dirty);  // the loader was told
    EXPECT_EQ(manager->soundAssets().size(), 1u);
    // An image flush also removes the sounds.
    manager->imageForName("a");  // the temporary handle drops the count to 0
    manager->flushAssetList();
    EXPECT_TRUE(manager->soundAssets().empty());
    beep->release();
}

TEST_F(AssetManager, ImageLoaderHoldsOneReferenceAndNeverReleasesTwice) {
    SGImageLoaderNode* loader = showing("a");
    EXPECT_EQ(count("a"), 1);
    // The name changes, then the old asset goes before the loader computes again.
    loader->name.setValue("b");
    manager->unloadImage("a");
    EXPECT_FALSE(loader->loaderHeldAsset());
    EXPECT_EQ(loader->asset.imageValue().width, 8);
    EXPECT_EQ(count("b"), 1);
    loader->name.setValue("nothing");
    EXPECT_TRUE(loader->asset.imageValue().isNull());
    EXPECT_EQ(count("b"), 0);
    loader->release();
}

TEST_F(AssetManager, AConnectedNameIsMatchedByItsSourcesText) {
    auto* loader = new SGImageLoaderNode(manager.get());
    auto* number = new SGArithmeticNode;  // its output reads "12" as text
    number->input1.setValue(12.0f);
    ASSERT_TRUE(loader->name.setValue(&number->output));
    EXPECT_TRUE(loader->asset.imageValue().isNull());  // no path for "12" yet
    writeImage("12", 2);
    manager->unloadImage("12");  // not loaded: still tells the loaders of that name
    EXPECT_TRUE(loader->dirty);
    EXPECT_EQ(loader->asset.imageValue().width, 2);
    number->release();  // still held by the connection
    loader->release();  // its input goes before the output it feeds (ASan)
}

TEST_F(AssetManager, StringToImageOwnsOneTextureAtATime) {
    auto* label = new SGStringToImageNode(manager.get());
    label->text.setValue("Score");
    SGImage first = label->image.imageValue();
    ASSERT_NE(first.texture, 0u);  // "LucidaGrande" falls back to the default font
    EXPECT_EQ(label->width.numberValue(), static_cast<float>(first.getWidth()));
    label->text.setValue("Score 10");
    SGImage second = label->image.imageValue();
    // The old texture was freed before the new one was made, so GL may hand out the same name.
    EXPECT_TRUE(first.texture == second.texture || !textureExists(first.texture));

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
    SGImage shown = label->image.imageValue();
    EXPECT_EQ(label->width.numberValue(), 64.0f);
    label->release();
    EXPECT_FALSE(textureExists(shown.texture));
}

}  // namespace dktest
