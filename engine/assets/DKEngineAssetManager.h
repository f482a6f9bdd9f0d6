// The asset manager: the game's loaded images and sounds, keyed by asset name, and the loader nodes
// that show them. Loads are synchronous, on the main thread; the file behind a name comes from the
// script's `project:pathForImage(name)` / `project:pathForSound(name)`.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "scenegraph/SGImage.h"

struct lua_State;
class SGSound;  // a decoded sound (engine/sound)

// A loaded asset. Its count is bookkeeping for the manager: reaching 0 frees nothing by itself.
class DKIAsset {
public:
    virtual const char* getResourceLocator() const = 0;
    virtual int getReferenceCount() const = 0;
    virtual void retain() = 0;
    virtual void release() = 0;
    virtual void freeAsset() = 0;
    virtual ~DKIAsset() = default;
    virtual void* getAsset() = 0;
};

class DKIAssetObserver {
public:
    virtual void notifyAssetRetained(DKIAsset* asset) = 0;
    virtual void notifyAssetReleased(DKIAsset* asset) = 0;
    virtual ~DKIAssetObserver() = default;
};

template <class T>
class DKBaseAsset : public DKIAsset {
public:
    DKBaseAsset(DKIAssetObserver* observer, std::string path)
        : resourceLocator_(std::move(path)), observer_(observer) {}

    const char* getResourceLocator() const override { return resourceLocator_.c_str(); }
    int getReferenceCount() const override { return referenceCount_; }
    void retain() override {
        ++referenceCount_;
        if (observer_) observer_->notifyAssetRetained(this);
    }
    void release() override {
        --referenceCount_;
        if (observer_) observer_->notifyAssetReleased(this);
    }

protected:
    int referenceCount_ = 0;
    std::string resourceLocator_;
    DKIAssetObserver* observer_;  // the manager; not owned
};

class DKAssetHandleFactory {};

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
        handle.asset_ = asset;
        handle.payload_ = payload;
        return handle;
    }
    virtual ~DKAssetHandle() { reset(); }

    DKAssetHandle(const DKAssetHandle& other) : asset_(other.asset_), payload_(other.payload_) {
        if (asset_) asset_->retain();
    }
    DKAssetHandle(DKAssetHandle&& other) noexcept : asset_(other.asset_), payload_(other.payload_) {
        other.asset_ = nullptr;
        other.payload_ = nullptr;
    }
    DKAssetHandle& operator=(const DKAssetHandle& other) {
        if (this != &other) {
            // Retain first: the old and new asset may be the same one.
            if (other.asset_) other.asset_->retain();
            reset();
            asset_ = other.asset_;
            payload_ = other.payload_;
        }
        return *this;
    }
    DKAssetHandle& operator=(DKAssetHandle&& other) noexcept {
        if (this != &other) {
            reset();
            asset_ = std::exchange(other.asset_, nullptr);
            payload_ = std::exchange(other.payload_, nullptr);
        }
        return *this;
    }

    // Releases the asset (if any) and empties the handle.
    void reset() {
        DKIAsset* asset = std::exchange(asset_, nullptr);
        payload_ = nullptr;
        if (asset) asset->release();
    }
    // Empties the handle without releasing: for an asset that no longer exists.
    void forget() {
        asset_ = nullptr;
        payload_ = nullptr;
    }

    DKIAsset* asset() const { return asset_; }
    T* get() const { return payload_; }
    bool empty() const { return asset_ == nullptr; }

private:
    DKIAsset* asset_ = nullptr;
    T* payload_ = nullptr;
};

class DKTextureAsset : public DKBaseAsset<SGImage>, public DKAssetHandleFactory {
public:
    // Loads the image with DKLoadImageFromFile; an unreadable file gives SGImageNull.
    DKTextureAsset(DKIAssetObserver* observer, const std::string& path);
    ~DKTextureAsset() override;
    void freeAsset() override;
    void* getAsset() override { return &image_; }
    // A handle that has already retained this asset.
    DKAssetHandle<SGImage> getHandle();
    const SGImage& image() const { return image_; }

private:
    SGImage image_;
};

class DKSoundAsset : public DKBaseAsset<SGSound>, public DKAssetHandleFactory {
public:
    // Decodes the file with SGSound::loadFromFile. A failed load writes
    // "DKSoundAsset::loadAsset error loading <path>" to standard error and leaves the asset
    // without a sound.
    DKSoundAsset(DKIAssetObserver* observer, const std::string& path);
    ~DKSoundAsset() override;
    void freeAsset() override;
    void* getAsset() override { return sound_.get(); }
    // The sound itself (null after a failed load); does not retain the asset.
    std::shared_ptr<SGSound> getHandle() const { return sound_; }

private:
    std::shared_ptr<SGSound> sound_;
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

struct AssetLoadData {
    std::string name;
    std::string path;
};

class DKEngineAssetManager : public DKIAssetObserver {
public:
    explicit DKEngineAssetManager(lua_State* L);
    // Flushes, tells every registered loader the manager is gone, then deletes every asset.
    ~DKEngineAssetManager() override;
    DKEngineAssetManager(const DKEngineAssetManager&) = delete;
    DKEngineAssetManager& operator=(const DKEngineAssetManager&) = delete;

    void loadImageForName(const std::string& name);
    void loadSoundForName(const std::string& name);
    void loadImage(const std::shared_ptr<AssetLoadData>& data);
    void loadSound(const std::shared_ptr<AssetLoadData>& data);
    // The script's path for the name; "" when it answers neither a string nor a number. Errors
    // raised by the script propagate as Lua errors.
    std::string pathForImage(const std::string& name);
    std::string pathForSound(const std::string& name);

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
    void flushAssets() { flushAssetList(); }

    void notifyAssetRetained(DKIAsset* asset) override;
    void notifyAssetReleased(DKIAsset* asset) override;

    void addImageLoader(DKImageLoader* loader) { imageLoaders.insert(loader); }
    void removeImageLoader(DKImageLoader* loader) { imageLoaders.erase(loader); }
    void addImageLoader(DKStringImageLoader* loader) { stringImageLoaders.insert(loader); }
    void removeImageLoader(DKStringImageLoader* loader) { stringImageLoaders.erase(loader); }
    void addSoundLoader(DKSoundLoader* loader) { soundLoaders.insert(loader); }
    void removeSoundLoader(DKSoundLoader* loader) { soundLoaders.erase(loader); }

    void waitForAssets() {}
    void lockAssets() {}
    void unlockAssets() {}

    // Tells the loaders of `name` (and any loader still holding `removed`) to drop their asset.
    void updateAllImageLoaders(const std::string& name, const DKIAsset* removed = nullptr);
    void updateAllSoundLoaders(const std::string& name);

    const std::map<std::string, std::shared_ptr<DKTextureAsset>>& imageAssets() const { return images; }
    const std::map<std::string, std::shared_ptr<DKSoundAsset>>& soundAssets() const { return sounds; }
    bool flushPending() const { return needsFlush; }

private:
    std::string pathFor(const char* function, const std::string& name);
    void removeImage(std::map<std::string, std::shared_ptr<DKTextureAsset>>::iterator it);
    void dropAllImages();

    bool needsFlush = false;
    lua_State* luaState;
    std::map<std::string, std::shared_ptr<DKTextureAsset>> images;
    std::map<std::string, std::shared_ptr<DKSoundAsset>> sounds;
    std::set<DKSoundLoader*> soundLoaders;
    std::set<DKImageLoader*> imageLoaders;
    std::set<DKStringImageLoader*> stringImageLoaders;
};
