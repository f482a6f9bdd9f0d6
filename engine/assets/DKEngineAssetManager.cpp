#include "engine/assets/DKEngineAssetManager.h"

#include <lua.hpp>

#include <cstdio>
#include <vector>

#include "engine/sound/SGSound.h"
#include "port/DKTextures.h"

// ---- assets

DKTextureAsset::DKTextureAsset(DKIAssetObserver* observer, const std::string& path)
    : DKBaseAsset<SGImage>(observer, path), image_(DKLoadImageFromFile(path.c_str())) {}

DKTextureAsset::~DKTextureAsset() {
    freeAsset();
}

void DKTextureAsset::freeAsset() {
    // Texture 0 is never a real texture; freeing twice must not delete a name GL has reused.
    if (image_.texture) image_.freeImage();
    image_.texture = 0;
}

DKAssetHandle<SGImage> DKTextureAsset::getHandle() {
    retain();
    return DKAssetHandle<SGImage>::adopt(this, &image_);
}

DKSoundAsset::DKSoundAsset(DKIAssetObserver* observer, const std::string& path)
    : DKBaseAsset<SGSound>(observer, path), sound_(std::make_shared<SGSound>()) {
    if (!sound_->loadFromFile(path.c_str())) {
        std::fprintf(stderr, "DKSoundAsset::loadAsset error loading %s", path.c_str());
        sound_.reset();
    }
}

DKSoundAsset::~DKSoundAsset() {
    if (referenceCount_ != 0) std::printf("An asset with a valid reference count should not be deleted.\n");
}

void DKSoundAsset::freeAsset() {
    if (referenceCount_ != 0) std::printf("An asset with a valid reference count should not be deleted.\n");
}

// ---- manager

DKEngineAssetManager::DKEngineAssetManager(lua_State* L) : luaState(L) {
    std::printf("Asset manager constructor\n");
}

DKEngineAssetManager::~DKEngineAssetManager() {
    flushAssetList();
    // Loaders may outlive the manager (a scene deleted after it): make them forget the assets
    // that are about to go and stop calling us, so nothing is released twice or through a
    // dangling manager.
    for (DKImageLoader* loader : std::vector<DKImageLoader*>(imageLoaders.begin(), imageLoaders.end())) {
        loader->dropAsset();
        loader->assetManagerDestroyed();
    }
    for (DKStringImageLoader* loader :
         std::vector<DKStringImageLoader*>(stringImageLoaders.begin(), stringImageLoaders.end()))
        loader->assetManagerDestroyed();
    for (DKSoundLoader* loader : std::vector<DKSoundLoader*>(soundLoaders.begin(), soundLoaders.end())) {
        loader->dropSound();
        loader->assetManagerDestroyed();
    }
    imageLoaders.clear();
    stringImageLoaders.clear();
    soundLoaders.clear();
    images.clear();
    sounds.clear();
}

std::string DKEngineAssetManager::pathFor(const char* function, const std::string& name) {
    lua_State* L = luaState;
    int top = lua_gettop(L);
    lua_getglobal(L, "project");
    lua_getfield(L, -1, function);
    lua_pushvalue(L, -2);
    lua_pushlstring(L, name.data(), name.size());
    lua_call(L, 2, 1);
    std::string path;
    if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
        size_t length = 0;
        const char* text = lua_tolstring(L, -1, &length);
        path.assign(text, length);
    }
    lua_settop(L, top);
    return path;
}

std::string DKEngineAssetManager::pathForImage(const std::string& name) {
    return pathFor("pathForImage", name);
}

std::string DKEngineAssetManager::pathForSound(const std::string& name) {
    return pathFor("pathForSound", name);
}

void DKEngineAssetManager::loadImage(const std::shared_ptr<AssetLoadData>& data) {
    if (!data || data->path.empty() || images.count(data->name)) return;
    images.emplace(data->name, std::make_shared<DKTextureAsset>(this, data->path));
}

void DKEngineAssetManager::loadSound(const std::shared_ptr<AssetLoadData>& data) {
    if (!data || data->path.empty() || sounds.count(data->name)) return;
    sounds.emplace(data->name, std::make_shared<DKSoundAsset>(this, data->path));
}

void DKEngineAssetManager::loadImageForName(const std::string& name) {
    loadImage(std::make_shared<AssetLoadData>(AssetLoadData{name, pathForImage(name)}));
}

void DKEngineAssetManager::loadSoundForName(const std::string& name) {
    loadSound(std::make_shared<AssetLoadData>(AssetLoadData{name, pathForSound(name)}));
}

DKAssetHandle<SGImage> DKEngineAssetManager::imageForName(const std::string& name) {
    loadImageForName(name);
    auto it = images.find(name);
    return it == images.end() ? DKAssetHandle<SGImage>() : it->second->getHandle();
}

std::shared_ptr<SGSound> DKEngineAssetManager::soundForName(const std::string& name) {
    loadSoundForName(name);
    auto it = sounds.find(name);
    return it == sounds.end() ? nullptr : it->second->getHandle();
}

void DKEngineAssetManager::updateAllImageLoaders(const std::string& name, const DKIAsset* removed) {
    // Copy first: a loader told to drop its asset may do anything, even unregister.
    for (DKImageLoader* loader : std::vector<DKImageLoader*>(imageLoaders.begin(), imageLoaders.end())) {
        if (!imageLoaders.count(loader)) continue;
        // A loader whose name changed since it loaded still holds the old asset: it must let go
        // of it too, or it would later release a deleted asset.
        const DKIAsset* held = loader->loaderHeldAsset();
        if (loader->loaderAssetName() == name || (removed && held == removed)) loader->dropAsset();
    }
}

void DKEngineAssetManager::updateAllSoundLoaders(const std::string& name) {
    for (DKSoundLoader* loader : std::vector<DKSoundLoader*>(soundLoaders.begin(), soundLoaders.end())) {
        if (soundLoaders.count(loader) && loader->loaderAssetName() == name) loader->dropSound();
    }
}

void DKEngineAssetManager::removeImage(std::map<std::string, std::shared_ptr<DKTextureAsset>>::iterator it) {
    std::string name = it->first;
    std::shared_ptr<DKTextureAsset> asset = std::move(it->second);
    images.erase(it);
    // Loaders forget the asset while it still exists, then it goes with its texture.
    updateAllImageLoaders(name, asset.get());
}

void DKEngineAssetManager::unloadImage(const std::string& name) {
    auto it = images.find(name);
    if (it != images.end())
        removeImage(it);
    else
        updateAllImageLoaders(name);
}

void DKEngineAssetManager::unloadSound(const std::string& name) {
    sounds.erase(name);
    updateAllSoundLoaders(name);
}

void DKEngineAssetManager::dropAllImages() {
    for (DKImageLoader* loader : std::vector<DKImageLoader*>(imageLoaders.begin(), imageLoaders.end())) {
        if (imageLoaders.count(loader)) loader->dropAsset();
    }
    images.clear();
}

void DKEngineAssetManager::unloadAllImages() {
    dropAllImages();
}

void DKEngineAssetManager::reloadAllImages() {
    dropAllImages();
    for (DKStringImageLoader* loader :
         std::vector<DKStringImageLoader*>(stringImageLoaders.begin(), stringImageLoaders.end())) {
        if (stringImageLoaders.count(loader)) loader->markImageDirty();
    }
}

void DKEngineAssetManager::cleanupUnusedImages(const std::set<std::string>& keep) {
    for (auto it = images.begin(); it != images.end();) {
        auto next = std::next(it);
        if (!keep.count(it->first)) removeImage(it);
        it = next;
    }
}

void DKEngineAssetManager::cleanupUnusedSounds(const std::set<std::string>& keep) {
    for (auto it = sounds.begin(); it != sounds.end();) {
        if (keep.count(it->first)) {
            ++it;
            continue;
        }
        std::string name = it->first;
        it = sounds.erase(it);
        updateAllSoundLoaders(name);
    }
}

void DKEngineAssetManager::loadNewImages(const std::set<std::string>& names) {
    for (const std::string& name : names) {
        if (!images.count(name)) loadImageForName(name);
    }
}

void DKEngineAssetManager::loadNewSounds(const std::set<std::string>& names) {
    for (const std::string& name : names) {
        if (!sounds.count(name)) loadSoundForName(name);
    }
}

void DKEngineAssetManager::flushAssetList() {
    if (!needsFlush) return;
    cleanupUnusedImages({});
    cleanupUnusedSounds({});
    needsFlush = false;
}

void DKEngineAssetManager::notifyAssetRetained(DKIAsset*) {}

void DKEngineAssetManager::notifyAssetReleased(DKIAsset* asset) {
    if (asset->getReferenceCount() == 0) needsFlush = true;
}
