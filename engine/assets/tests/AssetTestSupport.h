// A Lua state whose `project` answers asset paths from a table, image files to point it at, and
// loader nodes that behave as the scene graph's do towards the manager.
#pragma once

#include <lua.hpp>

#include <string>

#include "engine/assets/DKEngineAssetManager.h"
#include "port/tests/TextureTestSupport.h"

namespace dktest {

class ScriptProject {
public:
    ScriptProject();
    ~ScriptProject();
    lua_State* L() const { return L_; }
    // project.images[name] = path (nil removes it); likewise sounds.
    void setImagePath(const std::string& name, const char* path);
    void setSoundPath(const std::string& name, const char* path);
    // How often the script was asked for the image path of `name`.
    int imageLookups(const std::string& name);
    // Runs a chunk: its results as text, or "error: <message>" (see dktest::runLua).
    std::string run(const std::string& chunk);

private:
    lua_State* L_;
};

// An image loader node's side of the contract: holds one counted handle, forgets it when told.
struct FakeImageLoader : DKImageLoader {
    FakeImageLoader(DKEngineAssetManager* m, std::string n) : manager(m), name(std::move(n)) {
        manager->addImageLoader(this);
    }
    ~FakeImageLoader() override {
        if (manager) manager->removeImageLoader(this);
    }
    void compute() {
        if (!manager) return;
        handle = manager->imageForName(name);
        dirty = false;
    }
    std::string loaderAssetName() override { return name; }
    const DKIAsset* loaderHeldAsset() const override { return handle.asset(); }
    void dropAsset() override {
        handle.forget();
        dirty = true;
    }
    void assetManagerDestroyed() override { manager = nullptr; }

    DKEngineAssetManager* manager;
    std::string name;
    DKAssetHandle<SGImage> handle;
    bool dirty = true;
};

struct FakeStringLoader : DKStringImageLoader {
    explicit FakeStringLoader(DKEngineAssetManager* m) : manager(m) { manager->addImageLoader(this); }
    ~FakeStringLoader() override {
        if (manager) manager->removeImageLoader(this);
    }
    void markImageDirty() override { dirty = true; }
    void assetManagerDestroyed() override { manager = nullptr; }
    DKEngineAssetManager* manager;
    bool dirty = false;
};

struct FakeSoundLoader : DKSoundLoader {
    FakeSoundLoader(DKEngineAssetManager* m, std::string n) : manager(m), name(std::move(n)) {
        manager->addSoundLoader(this);
    }
    ~FakeSoundLoader() override {
        if (manager) manager->removeSoundLoader(this);
    }
    void compute() { sound = manager->soundForName(name); }
    std::string loaderAssetName() override { return name; }
    void dropSound() override {
        sound.reset();
        dirty = true;
    }
    void assetManagerDestroyed() override { manager = nullptr; }
    DKEngineAssetManager* manager;
    std::string name;
    std::shared_ptr<dk::SGSound> sound;
    bool dirty = false;
};

}  // namespace dktest
