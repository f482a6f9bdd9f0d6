// The manager with the loader nodes that use it: sharing, counts, clean-up, flush, failed files,
// and loaders that outlive the manager.
#include <gtest/gtest.h>

#include "engine/assets/tests/AssetTestSupport.h"
#include "engine/sound/SGSound.h"
#include "port/DKTextures.h"
#include "port/tests/AudioTestSupport.h"

using namespace dktest;
using AssetManager = AssetTest;
using Names = std::set<std::string>;

TEST_F(AssetManager, HandlesShareOneAssetAndCountIt) {
    {
        DKAssetHandle<SGImage> first = manager->imageForName("a");
        DKAssetHandle<SGImage> second = manager->imageForName("a");
        ASSERT_EQ(manager->imageAssets().size(), 1u);
        EXPECT_EQ(first.asset(), second.asset());
        EXPECT_EQ(first.asset()->getReferenceCount(), 2);
        EXPECT_EQ(first.get()->width, 4);
        DKAssetHandle<SGImage> copy = first;
        EXPECT_EQ(first.asset()->getReferenceCount(), 3);
        copy = second;  // same asset: one retain, one release
        EXPECT_EQ(first.asset()->getReferenceCount(), 3);
        EXPECT_FALSE(manager->flushPending());
    }
    // The last handle went: a flush is due, but nothing is removed until it happens.
    EXPECT_TRUE(manager->flushPending());
    EXPECT_EQ(manager->imageAssets().size(), 1u);
    EXPECT_EQ(project.imageLookups("a"), 2);  // asked on every request, loaded once
}

TEST_F(AssetManager, FlushRemovesEveryAssetOnceACountFellToZero) {
    SGImageLoaderNode *showsA = showing("a"), *showsB = showing("b");
    manager->flushAssets();  // nothing released yet: no effect
    EXPECT_EQ(imageNames(), (Names{"a", "b"}));
    uint32_t textureB = showsB->imageHandle.get()->texture;

    showsA->name.setValue("c");
    showsA->asset.imageValue();  // lets go of a: its count falls to 0
    EXPECT_TRUE(manager->flushPending());
    // Removes b and c too, though they are in use; asking the loaders their names loads nothing back.
    manager->flushAssets();
    EXPECT_TRUE(manager->imageAssets().empty());
    EXPECT_TRUE(showsB->dirty && showsB->imageHandle.empty());
    EXPECT_TRUE(showsA->imageHandle.empty());
    EXPECT_FALSE(textureExists(textureB));
    EXPECT_FALSE(manager->flushPending());

    EXPECT_EQ(showsB->asset.imageValue().width, 8);  // loads again on its next read
    EXPECT_EQ(count("b"), 1);
    manager->flushAssets();  // the flag was cleared: a second flush does nothing
    EXPECT_EQ(imageNames(), (Names{"b"}));
    showsA->release();
    showsB->release();
}

TEST_F(AssetManager, UnloadAndCleanupUpdateTheLoadersOfThoseNames) {
    SGImageLoaderNode *showsA = showing("a"), *showsB = showing("b"), *showsX = showing("x");
    manager->loadImageForName("c");

    manager->unloadImage("x");  // not loaded: its loaders are still told
    EXPECT_TRUE(showsX->dirty);
    EXPECT_FALSE(showsA->dirty);

    manager->cleanupUnusedImages({"a"});
    EXPECT_EQ(imageNames(), (Names{"a"}));
    EXPECT_TRUE(showsB->dirty && showsB->imageHandle.empty());
    EXPECT_FALSE(showsA->dirty);

    manager->unloadAllImages();
    EXPECT_TRUE(manager->imageAssets().empty());
    EXPECT_TRUE(showsA->dirty && showsA->imageHandle.empty());

    manager->loadNewImages({"a", "b", "nothing"});
    EXPECT_EQ(imageNames(), (Names{"a", "b"}));
    for (SGNode* n : {showsA, showsB, showsX}) n->release();
}

TEST_F(AssetManager, MissingPathsAndUnreadableFiles) {
    DKAssetHandle<SGImage> none = manager->imageForName("nothing");
    EXPECT_TRUE(none.empty());
    manager->imageForName("nothing");
    EXPECT_TRUE(manager->imageAssets().empty());
    EXPECT_EQ(project.imageLookups("nothing"), 2);
    project.run("project.images.number = 42");
    EXPECT_EQ(manager->pathForImage("number"), "42");

    std::string broken = dir.file("broken.png");
    writeFile(broken, "\1\2\3");
    project.setImagePath("broken", broken.c_str());
    DKAssetHandle<SGImage> handle = manager->imageForName("broken");
    ASSERT_FALSE(handle.empty());
    EXPECT_TRUE(handle.get()->isNull());
    EXPECT_EQ(manager->imageAssets().size(), 1u);
    EXPECT_EQ(lua_gettop(project.L()), 0);
}

TEST_F(AssetManager, LoadersMayOutliveTheManager) {
    SGImageLoaderNode* image = showing("a");
    auto* label = new SGStringToImageNode(manager.get());
    auto* sound = new SGSoundLoaderNode(manager.get());
    manager.reset();
    EXPECT_TRUE(!image->assetManager && !label->assetManager && !sound->assetManager);
    EXPECT_TRUE(image->imageHandle.empty());
    // The node shows nothing and never calls the manager again; nothing is released twice (ASan).
    image->name.setValue("b");
    EXPECT_TRUE(image->asset.imageValue().isNull());
    for (SGNode* n : std::initializer_list<SGNode*>{image, label, sound}) n->release();
}

TEST_F(AssetManager, SoundsAreSharedAndFailedOnesReported) {
    std::string wav = dir.file("beep.wav"), ogg = dir.file("bad.ogg");
    ASSERT_TRUE(dktest::writeWav(wav, dktest::sine(441, 1, 44100, 440, 0.5), 1, 44100));
    writeFile(ogg, "not ogg");
    project.setSoundPath("beep", wav.c_str());
    project.setSoundPath("bad", ogg.c_str());

    auto* beep = new SGSoundLoaderNode(manager.get());
    beep->name.setValue("beep");
    std::weak_ptr<SGSound> held = beep->asset.soundValue();
    ASSERT_NE(held.lock(), nullptr);
    EXPECT_EQ(manager->soundForName("beep"), held.lock());                 // one sound, shared
    EXPECT_EQ(manager->soundAssets().at("beep")->getReferenceCount(), 0);  // sounds are not counted

    testing::internal::CaptureStderr();
    EXPECT_EQ(manager->soundForName("bad"), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DKSoundAsset::loadAsset error loading " + ogg);
    EXPECT_EQ(manager->soundForName("silence"), nullptr);  // no path: nothing loaded
    EXPECT_EQ(manager->soundAssets().size(), 2u);          // "bad" stays loaded, without a sound

    manager->cleanupUnusedSounds({"bad"});
    EXPECT_EQ(beep->sound, nullptr);  // the loader was told
    EXPECT_EQ(manager->soundAssets().size(), 1u);

    // An image flush also removes the sounds.
    beep->asset.soundValue();
    manager->imageForName("a");  // the temporary handle drops the count to 0
    manager->flushAssets();
    EXPECT_TRUE(manager->soundAssets().empty());
    EXPECT_EQ(beep->sound, nullptr);
    beep->release();
}
