// A manager whose paths come from maps, counting the look-ups, with images "a" (4 x 4), "b" (8 x 8)
// and "c" (4 x 4) written as PNG files.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "engine/assets/DKEngineAssetManager.h"
#include "engine/assets/SGAssetNodes.h"
#include "port/tests/TextureTestSupport.h"
#include "tests/support/TestSupport.h"

namespace dktest {

class AssetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(useGL());
        for (auto [name, side] : {std::pair{"a", 4}, std::pair{"b", 8}, std::pair{"c", 4}})
            writeImage(name, side);
        testing::internal::CaptureStdout();
        manager =
            std::make_unique<DKEngineAssetManager>([this](dk::assets::Kind kind, const std::string& name) {
                auto& paths = kind == dk::assets::Kind::kImage ? imagePaths : soundPaths;
                ++lookups[name];
                return paths.count(name) ? paths[name] : std::string();
            });
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Asset manager constructor\n");
    }
    void writeImage(const std::string& name, int side) {
        imagePaths[name] = dir.file(name + ".png");
        writePNG(imagePaths[name], side, side, 4, std::vector<uint8_t>(side * side * 4, 200));
    }
    // Reference count of a loaded image.
    int count(const std::string& name) { return manager->imageAssets().at(name)->getReferenceCount(); }
    std::set<std::string> imageNames() const {
        std::set<std::string> names;
        for (const auto& entry : manager->imageAssets()) names.insert(entry.first);
        return names;
    }
    // An image loader node (released by the caller) that has shown `name`.
    SGImageLoaderNode* showing(const std::string& name) {
        auto* loader = new SGImageLoaderNode(manager.get());
        loader->name.setValue(name);
        loader->asset.imageValue();
        return loader;
    }

    TempDir dir;
    std::map<std::string, std::string> imagePaths, soundPaths;
    std::map<std::string, int> lookups;
    std::unique_ptr<DKEngineAssetManager> manager;
};

}  // namespace dktest
