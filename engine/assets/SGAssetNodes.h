// The scene-graph nodes that show assets: the image and sound loaders and the string-to-image
// node. They sit above the scene graph, beside the asset manager they register with; spaces make
// them through the makers DKInstallAssetNodeMakers installs. They talk to the manager through three
// small interfaces (DKImageLoader, DKStringImageLoader, DKSoundLoader). The loaders share
// SGAssetLoaderNode, which declares the "asset" output before the "name" input: members die in
// reverse order, and an input must go before the outputs it lists. A loader tells the manager its
// name without computing, so a removal never loads an image straight back. The string-to-image node
// owns one texture at a time and frees it by its name, not its width (a 1-pixel text on a scale-2.0
// screen reports width 0).
#pragma once

#include <memory>
#include <string>

#include "engine/assets/DKEngineAssetManager.h"
#include "scenegraph/SGNode.h"

// Base of the loaders: the manager (not owned), the "asset" output and the "name" input, and the
// reading of both. The ports are declared here, output first: members die in reverse order, and an
// input must go before the outputs it lists as destinations.
template <class OutputPort>
class SGAssetLoaderNode : public SGNode {
public:
    SGAssetLoaderNode(DKEngineAssetManager* manager, uint32_t nodeClass, SGPortValueType outputType)
        : m_assetManager(manager) {
        addNodeClass(SGNodeClassAssetLoaderNode | nodeClass);
        addOutputPort(&asset, outputType);
        addInputPort(&name, SGPortValueType::ASSETNAME);
    }

    SGPort* portForID(SGPortID id) override {
        if (id == SGPortID::asset) return &asset;
        return id == SGPortID::name ? &name : nullptr;
    }

    OutputPort asset;
    SGStringPort name;

protected:
    // The name port's current text for the manager, which asks while it removes assets: read
    // through a connection, but never by letting this node compute (it would load straight back).
    std::string currentName() { return name.source() ? name.source()->stringValue() : name.value; }

    DKEngineAssetManager* m_assetManager;  // null once the manager is gone
};

class SGImageLoaderNode : public SGAssetLoaderNode<SGImagePort>, public DKImageLoader {
public:
    explicit SGImageLoaderNode(DKEngineAssetManager* manager);
    ~SGImageLoaderNode() override;

    void compute() override;

    std::string loaderAssetName() override { return currentName(); }
    const DKIAsset* loaderHeldAsset() const override { return m_imageHandle.asset(); }
    void dropAsset() override;
    void assetManagerDestroyed() override { m_assetManager = nullptr; }

private:
    DKAssetHandle<SGImage> m_imageHandle;
};

// Asks the manager for its sound on every read of "asset": storing the sound through the port's
// setter marks the readers, and this node too, dirty again.
class SGSoundLoaderNode : public SGAssetLoaderNode<SGSoundPort>, public DKSoundLoader {
public:
    explicit SGSoundLoaderNode(DKEngineAssetManager* manager);
    ~SGSoundLoaderNode() override;

    // An empty name changes nothing: "asset" keeps its last sound.
    void compute() override;

    std::string loaderAssetName() override { return currentName(); }
    void dropSound() override;
    void assetManagerDestroyed() override { m_assetManager = nullptr; }

private:
    std::shared_ptr<SGSound> m_sound;
};

// Renders its text into a texture of its own, made anew on every compute.
class SGStringToImageNode : public SGNode, public DKStringImageLoader {
public:
    explicit SGStringToImageNode(DKEngineAssetManager* manager);
    ~SGStringToImageNode() override;

    void compute() override;
    SGPort* portForID(SGPortID id) override;

    void markImageDirty() override { image.markAsDirty(); }
    void assetManagerDestroyed() override { m_assetManager = nullptr; }

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

    DKEngineAssetManager* m_assetManager;  // null once the manager is gone
};

// Installs the makers of the image loader, sound loader and string-to-image node, which take the
// space's asset manager (SGSetNodeMaker). Opening the "assetManager" library calls it.
void DKInstallAssetNodeMakers();
