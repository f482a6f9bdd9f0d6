// The scene-graph nodes that show assets: the image and sound loaders and the string-to-image
// node. They sit above the scene graph, beside the asset manager they register with; spaces make
// them through the makers DKInstallAssetNodeMakers installs.
#pragma once

#include <memory>
#include <string>

#include "engine/assets/DKEngineAssetManager.h"
#include "scenegraph/SGNode.h"

// Base of the loaders: the manager (not owned). Each loader declares its own ports, output before
// the "name" input: members die in reverse order, and an input must go before the outputs it
// lists as destinations.
class SGAssetLoaderNode : public SGNode {
public:
    explicit SGAssetLoaderNode(DKEngineAssetManager* manager) : assetManager(manager) {
        addNodeClass(SGNodeClassAssetLoaderNode);
    }
    SGPort* portForID(SGPortID) override { return nullptr; }

    DKEngineAssetManager* assetManager;  // null once the manager is gone

protected:
    // The name port's current text for the manager, which asks while it removes assets: read
    // through a connection, but never by letting this node compute (it would load straight back).
    static std::string currentName(SGStringPort& name) {
        return name.source() ? name.source()->stringValue() : name.value;
    }
};

class SGImageLoaderNode : public SGAssetLoaderNode, public DKImageLoader {
public:
    explicit SGImageLoaderNode(DKEngineAssetManager* manager);
    ~SGImageLoaderNode() override;

    void compute() override;
    SGPort* portForID(SGPortID id) override;

    std::string loaderAssetName() override { return currentName(name); }
    const DKIAsset* loaderHeldAsset() const override { return imageHandle.asset(); }
    void dropAsset() override;
    void assetManagerDestroyed() override { assetManager = nullptr; }

    DKAssetHandle<SGImage> imageHandle;
    SGImagePort asset;
    SGStringPort name;
};

// Asks the manager for its sound on every read of "asset": storing the sound through the port's
// setter marks the readers, and this node too, dirty again.
class SGSoundLoaderNode : public SGAssetLoaderNode, public DKSoundLoader {
public:
    explicit SGSoundLoaderNode(DKEngineAssetManager* manager);
    ~SGSoundLoaderNode() override;

    // An empty name changes nothing: "asset" keeps its last sound.
    void compute() override;
    SGPort* portForID(SGPortID id) override;

    std::string loaderAssetName() override { return currentName(name); }
    void dropSound() override;
    void assetManagerDestroyed() override { assetManager = nullptr; }

    std::shared_ptr<SGSound> sound;
    SGSoundPort asset;
    SGStringPort name;
};

// Renders its text into a texture of its own, made anew on every compute.
class SGStringToImageNode : public SGNode, public DKStringImageLoader {
public:
    explicit SGStringToImageNode(DKEngineAssetManager* manager);
    ~SGStringToImageNode() override;

    void compute() override;
    SGPort* portForID(SGPortID id) override;

    void markImageDirty() override { image.markAsDirty(); }
    void assetManagerDestroyed() override { assetManager = nullptr; }

    DKEngineAssetManager* assetManager;
    SGImagePort image;
    SGNumberPort width;
    SGNumberPort height;
    SGStringPort text;
    SGStringPort font{"LucidaGrande"};
    SGNumberPort fontSize{12};
    SGIntegerPort alignment{1};
    SGBooleanPort wrap{false};
    SGNumberPort wrapWidth{100};
    SGNumberPort wrapHeight{100};

private:
    void freeTexture();
};

// Installs the makers of the image loader, sound loader and string-to-image node, which take the
// space's asset manager (SGSetNodeMaker). Opening the "assetManager" library calls it.
void DKInstallAssetNodeMakers();
