#include "engine/assets/tests/AssetTestSupport.h"

#include "engine/assets/DKAssetManagerLua.h"

namespace dktest {

ScriptProject::ScriptProject() {
    run(R"(
        lookups = {}
        project = { images = {}, sounds = {} }
        function project:pathForImage(name)
            lookups[name] = (lookups[name] or 0) + 1
            return self.images[name]
        end
        function project:pathForSound(name) return self.sounds[name] end
    )");
}

void ScriptProject::setImagePath(const std::string& name, const char* path) {
    run("project.images['" + name + "'] = " + (path ? "[==[" + std::string(path) + "]==]" : "nil"));
}

void ScriptProject::setSoundPath(const std::string& name, const char* path) {
    run("project.sounds['" + name + "'] = " + (path ? "[==[" + std::string(path) + "]==]" : "nil"));
}

int ScriptProject::imageLookups(const std::string& name) {
    return std::stoi(run("return lookups['" + name + "'] or 0"));
}

void AssetTest::SetUp() {
    ASSERT_TRUE(useGL());
    for (auto [name, side] : {std::pair{"a", 4}, std::pair{"b", 8}, std::pair{"c", 4}}) {
        std::string path = dir.file(std::string(name) + ".png");
        writePNG(path, side, side, 4, std::vector<uint8_t>(side * side * 4, 200));
        project.setImagePath(name, path.c_str());
    }
    testing::internal::CaptureStdout();
    manager = std::make_unique<DKEngineAssetManager>(project.L());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Asset manager constructor\n");
}

std::set<std::string> AssetTest::imageNames() const {
    std::set<std::string> names;
    for (const auto& entry : manager->imageAssets()) names.insert(entry.first);
    return names;
}

SGImageLoaderNode* AssetTest::showing(const std::string& name) {
    auto* loader = new SGImageLoaderNode(manager.get());
    loader->name.setValue(name);
    loader->asset.imageValue();
    return loader;
}

}  // namespace dktest
