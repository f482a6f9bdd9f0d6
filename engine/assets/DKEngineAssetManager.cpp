#include "engine/assets/DKEngineAssetManager.h"

#include <cstdio>
#include <vector>

#include "engine/sound/SGSound.h"
#include "port/DKTextures.h"

// ---- assets

DKTextureAsset::DKTextureAsset(DKIAssetObserver* observer, const std::string& path)
    : DKBaseAsset(observer), m_image(DKLoadImageFromFile(path.c_str())) {}

DKTextureAsset::~DKTextureAsset() {
    // Texture 0 is never a real texture: an unreadable file has none to free.
    if (m_image.texture) m_image.freeImage();
}

DKAssetHandle<SGImage> DKTextureAsset::getHandle() {
    retain();
    return DKAssetHandle<SGImage>::adopt(this, &m_image);
}

DKSoundAsset::DKSoundAsset(DKIAssetObserver* observer, const std::string& path)
    : DKBaseAsset(observer), m_sound(std::make_shared<SGSound>()) {
    if (!m_sound->loadFromFile(path.c_str())) {
        std::fprintf(stderr, "DKSoundAsset::loadAsset error loading %s", path.c_str());
        m_sound.reset();
    }
}

DKSoundAsset::~DKSoundAsset() {
    if (m_referenceCount != 0) std::printf("An asset with a valid reference count should not be deleted.\n");
}

// ---- manager

DKEngineAssetManager::DKEngineAssetManager(dk::assets::PathLookup pathLookup)
    : m_pathLookup(std::move(pathLookup)) {
    std::printf("Asset manager constructor\n");
}

DKEngineAssetManager::~DKEngineAssetManager() {
    flushAssetList();
    // Loaders may outlive the manager (a scene deleted after it): make them forget the assets
    // that are about to go and stop calling us, so nothing is released twice or through a
    // dangling manager.
    for (DKImageLoader* loader : std::vector<DKImageLoader*>(m_imageLoaders.begin(), m_imageLoaders.end())) {
        loader->dropAsset();
        loader->assetManagerDestroyed();
    }
    for (DKStringImageLoader* loader :
         std::vector<DKStringImageLoader*>(m_stringImageLoaders.begin(), m_stringImageLoaders.end()))
        loader->assetManagerDestroyed();
    for (DKSoundLoader* loader : std::vector<DKSoundLoader*>(m_soundLoaders.begin(), m_soundLoaders.end())) {
        loader->dropSound();
        loader->assetManagerDestroyed();
    }
    m_imageLoaders.clear();
    m_stringImageLoaders.clear();
    m_soundLoaders.clear();
    m_images.clear();
    m_sounds.clear();
}

std::string DKEngineAssetManager::lookUpPath(dk::assets::Kind kind, const std::string& name) {
    // Counted down also when the look-up throws: a script error unwinds through here.
    struct Counting {
        int& count;
        explicit Counting(int& c) : count(c) { ++count; }
        ~Counting() { --count; }
    } counting(m_pathLookups);
    return m_pathLookup(kind, name);
}

void DKEngineAssetManager::loadImageForName(const std::string& name) {
    std::string path = pathForImage(name);  // asked even when loaded
    if (path.empty() || m_images.count(name)) return;
    m_images.emplace(name, std::make_shared<DKTextureAsset>(this, path));
}

void DKEngineAssetManager::loadSoundForName(const std::string& name) {
    std::string path = pathForSound(name);
    if (path.empty() || m_sounds.count(name)) return;
    m_sounds.emplace(name, std::make_shared<DKSoundAsset>(this, path));
}

DKAssetHandle<SGImage> DKEngineAssetManager::imageForName(const std::string& name) {
    loadImageForName(name);
    auto it = m_images.find(name);
    return it == m_images.end() ? DKAssetHandle<SGImage>() : it->second->getHandle();
}

std::shared_ptr<SGSound> DKEngineAssetManager::soundForName(const std::string& name) {
    loadSoundForName(name);
    auto it = m_sounds.find(name);
    return it == m_sounds.end() ? nullptr : it->second->getHandle();
}

void DKEngineAssetManager::updateAllImageLoaders(const std::string& name, const DKIAsset* removed) {
    // Copy first: a loader told to drop its asset may do anything, even unregister.
    for (DKImageLoader* loader : std::vector<DKImageLoader*>(m_imageLoaders.begin(), m_imageLoaders.end())) {
        if (!m_imageLoaders.count(loader)) continue;
        // A loader whose name changed since it loaded still holds the old asset: it must let go
        // of it too, or it would later release a deleted asset.
        const DKIAsset* held = loader->loaderHeldAsset();
        if (loader->loaderAssetName() == name || (removed && held == removed)) loader->dropAsset();
    }
}

void DKEngineAssetManager::updateAllSoundLoaders(const std::string& name) {
    for (DKSoundLoader* loader : std::vector<DKSoundLoader*>(m_soundLoaders.begin(), m_soundLoaders.end())) {
        if (m_soundLoaders.count(loader) && loader->loaderAssetName() == name) loader->dropSound();
    }
}

void DKEngineAssetManager::removeImage(std::map<std::string, std::shared_ptr<DKTextureAsset>>::iterator it) {
    std::string name = it->first;
    std::shared_ptr<DKTextureAsset> asset = std::move(it->second);
    m_images.erase(it);
    // Loaders forget the asset while it still exists, then it goes with its texture.
    updateAllImageLoaders(name, asset.get());
}

void DKEngineAssetManager::unloadImage(const std::string& name) {
    auto it = m_images.find(name);
    if (it != m_images.end())
        removeImage(it);
    else
        updateAllImageLoaders(name);
}

void DKEngineAssetManager::unloadSound(const std::string& name) {
    m_sounds.erase(name);
    updateAllSoundLoaders(name);
}

void DKEngineAssetManager::dropAllImages() {
    for (DKImageLoader* loader : std::vector<DKImageLoader*>(m_imageLoaders.begin(), m_imageLoaders.end())) {
        if (m_imageLoaders.count(loader)) loader->dropAsset();
    }
    m_images.clear();
}

void DKEngineAssetManager::unloadAllImages() {
    dropAllImages();
}

void DKEngineAssetManager::reloadAllImages() {
    dropAllImages();
    for (DKStringImageLoader* loader :
         std::vector<DKStringImageLoader*>(m_stringImageLoaders.begin(), m_stringImageLoaders.end())) {
        if (m_stringImageLoaders.count(loader)) loader->markImageDirty();
    }
}

void DKEngineAssetManager::cleanupUnusedImages(const std::set<std::string>& keep) {
    for (auto it = m_images.begin(); it != m_images.end();) {
        auto next = std::next(it);
        if (!keep.count(it->first)) removeImage(it);
        it = next;
    }
}

void DKEngineAssetManager::cleanupUnusedSounds(const std::set<std::string>& keep) {
    for (auto it = m_sounds.begin(); it != m_sounds.end();) {
        if (keep.count(it->first)) {
            ++it;
            continue;
        }
        std::string name = it->first;
        it = m_sounds.erase(it);
        updateAllSoundLoaders(name);
    }
}

void DKEngineAssetManager::loadNewImages(const std::set<std::string>& names) {
    for (const std::string& name : names) {
        if (!m_images.count(name)) loadImageForName(name);
    }
}

void DKEngineAssetManager::loadNewSounds(const std::set<std::string>& names) {
    for (const std::string& name : names) {
        if (!m_sounds.count(name)) loadSoundForName(name);
    }
}

void DKEngineAssetManager::flushAssetList() {
    if (!m_needsFlush) return;
    cleanupUnusedImages({});
    cleanupUnusedSounds({});
    m_needsFlush = false;
}

void DKEngineAssetManager::notifyAssetRetained(DKIAsset*) {}

void DKEngineAssetManager::notifyAssetReleased(DKIAsset* asset) {
    if (asset->getReferenceCount() == 0) m_needsFlush = true;
}
