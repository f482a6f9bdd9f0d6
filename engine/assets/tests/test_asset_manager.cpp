// The manager with loader nodes: sharing, counts, clean-up, flush, and loaders that outlive the
// name they loaded or the manager itself.
#include <gtest/gtest.h>

#include "engine/assets/tests/AssetTestSupport.h"
#include "engine/sound/SGSound.h"
#include "port/tests/TestAudioFiles.h"
#include "port/DKTextures.h"

using namespace dktest;

namespace {

class AssetManager : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useGL());
        std::vector<uint8_t> pixels(4 * 4 * 4, 255);
        for (const char* name : {"a", "b", "c"}) {
            std::string path = dir.file(std::string(name) + ".png");
            writePNG(path, 4, 4, 4, pixels);
            project.setImagePath(name, path.c_str());
        }
        testing::internal::CaptureStdout();
        manager = std::make_unique<DKEngineAssetManager>(project.L());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Asset manager constructor\n");
    }

    std::set<std::string> imageNames() const {
        std::set<std::string> names;
        for (const auto& entry : manager->imageAssets()) names.insert(entry.first);
        return names;
    }

    TempDir dir;
    ScriptProject project;
    std::unique_ptr<DKEngineAssetManager> manager;
};

}  // namespace

TEST_F(AssetManager, HandlesShareOneAssetAndCountIt) {
    {
        DKAssetHandle<SGImage> first = manager->imageForName("a");
        DKAssetHandle<SGImage> second = manager->imageForName("a");
        ASSERT_EQ(manager->imageAssets().size(), 1u);
        EXPECT_EQ(first.asset(), second.asset());
        EXPECT_EQ(first.asset()->getReferenceCount(), 2);
        EXPECT_EQ(first.get()->width, 4);
        EXPECT_NE(first.get()->texture, 0u);
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
    FakeImageLoader showsA(manager.get(), "a"), showsB(manager.get(), "b");
    showsA.compute();
    showsB.compute();
    manager->flushAssets();  // nothing released yet: no effect
    EXPECT_EQ(imageNames(), (std::set<std::string>{"a", "b"}));
    uint32_t textureB = showsB.handle.get()->texture;

    showsA.name = "c";
    showsA.compute();  // lets go of a: its count falls to 0
    EXPECT_TRUE(manager->flushPending());
    manager->flushAssets();
    EXPECT_TRUE(manager->imageAssets().empty());  // b and c too, though they are in use
    EXPECT_TRUE(showsB.dirty);
    EXPECT_TRUE(showsB.handle.empty());
    EXPECT_TRUE(showsA.handle.empty());
    EXPECT_FALSE(textureExists(textureB));
    EXPECT_FALSE(manager->flushPending());

    showsB.compute();  // loads again on the next compute
    EXPECT_EQ(imageNames(), (std::set<std::string>{"b"}));
    manager->flushAssets();  // the flag was cleared: a second flush does nothing
    EXPECT_EQ(imageNames(), (std::set<std::string>{"b"}));
}

TEST_F(AssetManager, UnloadAndCleanupUpdateTheLoadersOfThoseNames) {
    FakeImageLoader showsA(manager.get(), "a"), showsB(manager.get(), "b"), showsX(manager.get(), "x");
    FakeStringLoader label(manager.get());
    showsA.compute();
    showsB.compute();
    manager->loadImageForName("c");

    manager->unloadImage("x");  // not loaded: its loaders are still told
    EXPECT_TRUE(showsX.dirty);
    EXPECT_FALSE(showsA.dirty);

    manager->cleanupUnusedImages({"a"});
    EXPECT_EQ(imageNames(), (std::set<std::string>{"a"}));
    EXPECT_TRUE(showsB.dirty && showsB.handle.empty());
    EXPECT_FALSE(showsA.dirty);

    manager->unloadAllImages();
    EXPECT_TRUE(manager->imageAssets().empty());
    EXPECT_TRUE(showsA.dirty && showsA.handle.empty());
    EXPECT_FALSE(label.dirty);
    manager->reloadAllImages();
    EXPECT_TRUE(label.dirty);

    manager->loadNewImages({"a", "b", "nothing"});
    EXPECT_EQ(imageNames(), (std::set<std::string>{"a", "b"}));
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
    writeBytes(broken, {1, 2, 3});
    project.setImagePath("broken", broken.c_str());
    DKAssetHandle<SGImage> handle = manager->imageForName("broken");
    ASSERT_FALSE(handle.empty());
    EXPECT_TRUE(handle.get()->isNull());
    EXPECT_EQ(manager->imageAssets().size(), 1u);
    EXPECT_EQ(lua_gettop(project.L()), 0);
}

TEST_F(AssetManager, LoadersMayOutliveTheManager) {
    auto image = std::make_unique<FakeImageLoader>(manager.get(), "a");
    auto label = std::make_unique<FakeStringLoader>(manager.get());
    auto sound = std::make_unique<FakeSoundLoader>(manager.get(), "s");
    image->compute();
    manager.reset();
    EXPECT_EQ(image->manager, nullptr);
    EXPECT_EQ(label->manager, nullptr);
    EXPECT_EQ(sound->manager, nullptr);
    EXPECT_TRUE(image->handle.empty());
    image.reset();  // nothing released twice, no call into the dead manager (ASan watches)
    label.reset();
    sound.reset();
}

TEST_F(AssetManager, SoundsAreSharedAndFailedOnesReported) {
    std::string wav = dir.file("beep.wav"), ogg = dir.file("bad.ogg");
    ASSERT_TRUE(dk::test::writeWav(wav, dk::test::sine(441, 1, 44100, 440, 0.5), 1, 44100));
    writeBytes(ogg, {'n', 'o', 't', ' ', 'o', 'g', 'g'});
    project.setSoundPath("beep", wav.c_str());
    project.setSoundPath("bad", ogg.c_str());

    FakeSoundLoader beep(manager.get(), "beep"), bad(manager.get(), "bad");
    beep.compute();
    ASSERT_NE(beep.sound, nullptr);
    EXPECT_EQ(beep.sound->bufferCount, 1);
    EXPECT_EQ(manager->soundForName("beep"), beep.sound);                  // one sound, shared
    EXPECT_EQ(manager->soundAssets().at("beep")->getReferenceCount(), 0);  // sounds are not counted

    testing::internal::CaptureStderr();
    bad.compute();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DKSoundAsset::loadAsset error loading " + ogg);
    EXPECT_EQ(bad.sound, nullptr);
    EXPECT_EQ(manager->soundAssets().size(), 2u);          // stays loaded, without a sound
    EXPECT_EQ(manager->soundForName("silence"), nullptr);  // no path: nothing loaded
    EXPECT_EQ(manager->soundAssets().size(), 2u);

    std::weak_ptr<dk::SGSound> held = beep.sound;
    manager->cleanupUnusedSounds({"bad"});
    EXPECT_TRUE(beep.dirty);
    EXPECT_TRUE(held.expired());  // the loader let go and the map's copy went with the asset
    EXPECT_FALSE(bad.dirty);

    // An image flush also removes the sounds.
    beep.compute();
    manager->imageForName("a");  // the temporary handle drops the count to 0
    manager->flushAssets();
    EXPECT_TRUE(manager->soundAssets().empty());
    EXPECT_TRUE(beep.dirty && bad.dirty);
}
