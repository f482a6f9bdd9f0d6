// The asset manager: the game's loaded images (DKTextureAsset) and sounds (DKSoundAsset, decoded by
// SGSound), in name-ordered maps, and the loader nodes that show them. Loads are synchronous, on the
// main thread; the file behind a name comes from the path look-up the manager is made with, asked on
// every request (loadImageForName even for a loaded name; list loads for new names only). An image
// asset's count is bookkeeping: DKAssetHandle copies retain, destruction releases, and a count
// reaching 0 only arms flushAssetList (the script's flushAssets), which then removes every image and
// sound. When an image goes, every loader of that name and every loader still holding that asset
// forgets its handle without releasing; when the manager is destroyed first, each loader drops its
// asset and is told (assetManagerDestroyed) never to call it again. The manager counts its path
// look-ups under way: the script answering one runs above the manager's own call or a loader's
// compute, so a delete from there is refused.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "scenegraph/SGImage.h"

class SGSound;  // a decoded sound (engine/sound)

namespace dk::assets {

enum class Kind { kImage, kSound };
// The file behind an asset name, "" when there is none. May throw: what it throws (a script's
// error) reaches the caller, and the name being looked up is left as it was (names of the same
// call handled before it stay handled).
using PathLookup = std::function<std::string(Kind kind, const std::string& name)>;

}  // namespace dk::assets

// A loaded asset. Its count is bookkeeping for the manager: reaching 0 frees nothing by itself.
class DKIAsset {
public:
    virtual int getReferenceCount() const = 0;
    virtual void retain() = 0;
    virtual void release() = 0;
    virtual ~DKIAsset() = default;
};

class DKIAssetObserver {
public:
    virtual void notifyAssetRetained(DKIAsset* asset) = 0;
    virtual void notifyAssetReleased(DKIAsset* asset) = 0;
    virtual ~DKIAssetObserver() = default;
};

class DKBaseAsset : public DKIAsset {
public:
    explicit DKBaseAsset(DKIAssetObserver* observer) : m_observer(observer) {}

    int getReferenceCount() const override { return m_referenceCount; }
    void retain() override {
        ++m_referenceCount;
        if (m_observer) m_observer->notifyAssetRetained(this);
    }
    void release() override {
        --m_referenceCount;
        if (m_observer) m_observer->notifyAssetReleased(this);
    }

protected:
    int m_referenceCount = 0;
    DKIAssetObserver* m_observer;  // the manager; not owned
};

// A counted reference on an asset and a pointer to its payload. Copies retain the asset, and
// destroying or overwriting a handle releases it once. When the manager deletes an asset, the
// holders it tells call forget(), which drops the pointers without touching the dead asset.
template <class T>
class DKAssetHandle {
public:
    DKAssetHandle() = default;
    // Takes over one reference the caller already holds on `asset`.
    static DKAssetHandle adopt(DKIAsset* asset, T* payload) {
        DKAssetHandle handle;
        handle.m_asset = asset;
        handle.m_payload = payload;
        return handle;
    }
    virtual ~DKAssetHandle() { reset(); }

    DKAssetHandle(const DKAssetHandle& other) : m_asset(other.m_asset), m_payload(other.m_payload) {
        if (m_asset) m_asset->retain();
    }
    DKAssetHandle(DKAssetHandle&& other) noexcept : m_asset(other.m_asset), m_payload(other.m_payload) {
        other.m_asset = nullptr;
        other.m_payload = nullptr;
    }
    DKAssetHandle& operator=(const DKAssetHandle& other) {
        if (this != &other) {
            // Retain first: the old and new asset may be the same one.
            if (other.m_asset) other.m_asset->retain();
            reset();
            m_asset = other.m_asset;
            m_payload = other.m_payload;
        }
        return *this;
    }
    DKAssetHandle& operator=(DKAssetHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_asset = std::exchange(other.m_asset, nullptr);
            m_payload = std::exchange(other.m_payload, nullptr);
        }
        return *this;
    }

    // Releases the asset (if any) and empties the handle.
    void reset() {
        DKIAsset* asset = std::exchange(m_asset, nullptr);
        m_payload = nullptr;
        if (asset) asset->release();
    }
    // Empties the handle without releasing: for an asset that no longer exists.
    void forget() {
        m_asset = nullptr;
        m_payload = nullptr;
    }

    DKIAsset* asset() const { return m_asset; }
    T* get() const { return m_payload; }
    bool empty() const { return m_asset == nullptr; }

private:
    DKIAsset* m_asset = nullptr;
    T* m_payload = nullptr;
};

class DKTextureAsset : public DKBaseAsset {
public:
    // Loads the image with DKLoadImageFromFile; an unreadable file gives SGImageNull.
    DKTextureAsset(DKIAssetObserver* observer, const std::string& path);
    ~DKTextureAsset() override;
    // A handle that has already retained this asset.
    DKAssetHandle<SGImage> getHandle();
    const SGImage& image() const { return m_image; }

private:
    SGImage m_image;
};

class DKSoundAsset : public DKBaseAsset {
public:
    // Decodes the file with SGSound::loadFromFile. A failed load writes
    // "DKSoundAsset::loadAsset error loading <path>" to standard error and leaves the asset
    // without a sound.
    DKSoundAsset(DKIAssetObserver* observer, const std::string& path);
    ~DKSoundAsset() override;
    // The sound itself (null after a failed load); does not retain the asset.
    std::shared_ptr<SGSound> getHandle() const { return m_sound; }

private:
    std::shared_ptr<SGSound> m_sound;
};

// What the asset manager needs of an image loader node (which implements it and registers with
// addImageLoader in its constructor, removeImageLoader in its destructor).
class DKImageLoader {
public:
    virtual ~DKImageLoader() = default;
    // The text the loader's name port holds now, read without computing anything (the manager
    // asks while it is changing its maps).
    virtual std::string loaderAssetName() = 0;
    // The asset the loader's handle holds, or null.
    virtual const DKIAsset* loaderHeldAsset() const = 0;
    // The manager has removed the held asset (or the loader's name): forget the handle without
    // releasing it and mark the "asset" output dirty.
    virtual void dropAsset() = 0;
    // The manager is being destroyed (its assets with it, already dropped): never call it again,
    // not even removeImageLoader.
    virtual void assetManagerDestroyed() = 0;
};

// What the asset manager needs of a string-to-image node.
class DKStringImageLoader {
public:
    virtual ~DKStringImageLoader() = default;
    // Mark the "image" output dirty so the text is rendered again.
    virtual void markImageDirty() = 0;
    virtual void assetManagerDestroyed() = 0;
};

// What the asset manager needs of a sound loader node.
class DKSoundLoader {
public:
    virtual ~DKSoundLoader() = default;
    virtual std::string loaderAssetName() = 0;
    // Release the held sound and mark the "asset" output dirty.
    virtual void dropSound() = 0;
    virtual void assetManagerDestroyed() = 0;
};

class DKEngineAssetManager : public DKIAssetObserver {
public:
    explicit DKEngineAssetManager(dk::assets::PathLookup pathLookup);
    // Flushes, tells every registered loader the manager is gone, then deletes every asset.
    ~DKEngineAssetManager() override;
    DKEngineAssetManager(const DKEngineAssetManager&) = delete;
    DKEngineAssetManager& operator=(const DKEngineAssetManager&) = delete;

    void loadImageForName(const std::string& name);
    void loadSoundForName(const std::string& name);
    std::string pathForImage(const std::string& name) { return lookUpPath(dk::assets::Kind::kImage, name); }
    std::string pathForSound(const std::string& name) { return lookUpPath(dk::assets::Kind::kSound, name); }
    // Whether a path look-up is under way. It may run the script while this manager's frames (and
    // those of a loader node computing) wait for it below: the manager must outlive it.
    bool lookingUpPath() const { return m_pathLookups > 0; }

    // Loads on demand. An empty handle (null sound) when the script has no path for the name.
    DKAssetHandle<SGImage> imageForName(const std::string& name);
    std::shared_ptr<SGSound> soundForName(const std::string& name);

    void unloadImage(const std::string& name);
    void unloadSound(const std::string& name);
    void unloadAllImages();
    // As unloadAllImages, and every string-to-image node renders its text again.
    void reloadAllImages();
    void cleanupUnusedImages(const std::set<std::string>& keep);
    void cleanupUnusedSounds(const std::set<std::string>& keep);
    void loadNewImages(const std::set<std::string>& names);
    void loadNewSounds(const std::set<std::string>& names);
    // When some asset's count has fallen to 0 since the last flush: removes every image and sound.
    void flushAssetList();

    void notifyAssetRetained(DKIAsset* asset) override;
    void notifyAssetReleased(DKIAsset* asset) override;

    void addImageLoader(DKImageLoader* loader) { m_imageLoaders.insert(loader); }
    void removeImageLoader(DKImageLoader* loader) { m_imageLoaders.erase(loader); }
    void addImageLoader(DKStringImageLoader* loader) { m_stringImageLoaders.insert(loader); }
    void removeImageLoader(DKStringImageLoader* loader) { m_stringImageLoaders.erase(loader); }
    void addSoundLoader(DKSoundLoader* loader) { m_soundLoaders.insert(loader); }
    void removeSoundLoader(DKSoundLoader* loader) { m_soundLoaders.erase(loader); }

    const std::map<std::string, std::shared_ptr<DKTextureAsset>>& imageAssets() const { return m_images; }
    const std::map<std::string, std::shared_ptr<DKSoundAsset>>& soundAssets() const { return m_sounds; }
    bool flushPending() const { return m_needsFlush; }

private:
    std::string lookUpPath(dk::assets::Kind kind, const std::string& name);
    // Tells the loaders of `name` (and any loader still holding `removed`) to drop their asset.
    void updateAllImageLoaders(const std::string& name, const DKIAsset* removed = nullptr);
    void updateAllSoundLoaders(const std::string& name);
    void removeImage(std::map<std::string, std::shared_ptr<DKTextureAsset>>::iterator it);
    void dropAllImages();

    bool m_needsFlush = false;
    dk::assets::PathLookup m_pathLookup;
    int m_pathLookups = 0;  // under way; they nest when the script loads from inside one
    std::map<std::string, std::shared_ptr<DKTextureAsset>> m_images;
    std::map<std::string, std::shared_ptr<DKSoundAsset>> m_sounds;
    std::set<DKSoundLoader*> m_soundLoaders;
    std::set<DKImageLoader*> m_imageLoaders;
    std::set<DKStringImageLoader*> m_stringImageLoaders;
};
