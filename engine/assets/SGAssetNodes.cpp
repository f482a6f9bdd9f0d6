#include "engine/assets/SGAssetNodes.h"

#include "port/DKTextures.h"
#include "scenegraph/SGSpace.h"

SGImageLoaderNode::SGImageLoaderNode(DKEngineAssetManager* manager) : SGAssetLoaderNode(manager) {
    addNodeClass(SGNodeClassImageLoaderNode);
    addOutputPort(&asset, SGPortValueType::IMAGE);
    addInputPort(&name, SGPortValueType::ASSETNAME);
    if (assetManager) assetManager->addImageLoader(this);
}

SGImageLoaderNode::~SGImageLoaderNode() {
    if (assetManager) assetManager->removeImageLoader(this);
    imageHandle.reset();
}

void SGImageLoaderNode::dropAsset() {
    imageHandle.forget();
    asset.markAsDirty();
}

void SGImageLoaderNode::compute() {
    std::string assetName = name.stringValue();
    if (assetName.empty() || !assetManager) {
        asset.value = SGImageNull;
        return;
    }
    // Assigning releases the asset held before; the new handle comes already retained.
    imageHandle = assetManager->imageForName(assetName);
    if (imageHandle.empty()) {
        asset.value = SGImageNull;
        return;
    }
    if (imageHandle.get()->isNull()) imageHandle = assetManager->imageForName(assetName);
    asset.value = imageHandle.empty() ? SGImageNull : *imageHandle.get();
}

SGPort* SGImageLoaderNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::asset:
            return &asset;
        case SGPortID::name:
            return &name;
        default:
            return nullptr;
    }
}

SGSoundLoaderNode::SGSoundLoaderNode(DKEngineAssetManager* manager) : SGAssetLoaderNode(manager) {
    addNodeClass(SGNodeClassSoundLoaderNode);
    addOutputPort(&asset, SGPortValueType::SOUND);
    addInputPort(&name, SGPortValueType::ASSETNAME);
    if (assetManager) assetManager->addSoundLoader(this);
}

SGSoundLoaderNode::~SGSoundLoaderNode() {
    if (assetManager) assetManager->removeSoundLoader(this);
}

void SGSoundLoaderNode::compute() {
    std::string assetName = name.stringValue();
    if (assetName.empty()) return;
    sound = assetManager ? assetManager->soundForName(assetName) : nullptr;
    asset.setValue(sound);
}

void SGSoundLoaderNode::dropSound() {
    sound.reset();
    asset.markAsDirty();
}

SGPort* SGSoundLoaderNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::asset:
            return &asset;
        case SGPortID::name:
            return &name;
        default:
            return nullptr;
    }
}

SGStringToImageNode::SGStringToImageNode(DKEngineAssetManager* manager) : assetManager(manager) {
    addNodeClass(SGNodeClassStringToImageNode);
    addOutputPort(&image, SGPortValueType::IMAGE);
    addOutputPort(&width, SGPortValueType::NUMBER);
    addOutputPort(&height, SGPortValueType::NUMBER);
    addInputPort(&text, SGPortValueType::STRING);
    addInputPort(&font, SGPortValueType::STRING);
    addInputPort(&fontSize, SGPortValueType::NUMBER);
    addInputPort(&alignment, SGPortValueType::INTEGER);
    addInputPort(&wrap, SGPortValueType::BOOLEAN);
    addInputPort(&wrapWidth, SGPortValueType::NUMBER);
    addInputPort(&wrapHeight, SGPortValueType::NUMBER);
    if (assetManager) assetManager->addImageLoader(this);
}

SGStringToImageNode::~SGStringToImageNode() {
    freeTexture();
    if (assetManager) assetManager->removeImageLoader(this);
}

// Judged by the texture name rather than the texture width: on a scale-2.0 screen a 1-pixel text
// texture reports width 0 and would otherwise never be freed.
void SGStringToImageNode::freeTexture() {
    if (image.value.texture) image.value.freeImage();
    image.value = SGImageNull;
}

void SGStringToImageNode::compute() {
    std::string label = text.stringValue();
    float size = fontSize.numberValue();
    int align = alignment.intValue();
    std::string fontName = font.stringValue();
    freeTexture();

    SGImage result = SGImageNull;
    if (!label.empty() && !fontName.empty()) {
        bool fixed = wrap.boolValue();
        float boxWidth = wrapWidth.numberValue();
        float boxHeight = wrapHeight.numberValue();
        result = DKImageFromString(label.c_str(), fontName.c_str(), size, static_cast<DKTextAlignment>(align),
                                   fixed, boxWidth, boxHeight);
    }
    if (result.textureWidth < 1) {
        if (result.texture) result.freeImage();
        image.value = SGImageNull;
        width.value = 0;
        height.value = 0;
        return;
    }
    image.value = result;
    width.value = static_cast<float>(result.getWidth());
    height.value = static_cast<float>(result.getHeight());
}

SGPort* SGStringToImageNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::image:
            return &image;
        case SGPortID::width:
            return &width;
        case SGPortID::height:
            return &height;
        case SGPortID::text:
            return &text;
        case SGPortID::font:
            return &font;
        case SGPortID::fontSize:
            return &fontSize;
        case SGPortID::alignment:
            return &alignment;
        case SGPortID::wrap:
            return &wrap;
        case SGPortID::wrapWidth:
            return &wrapWidth;
        case SGPortID::wrapHeight:
            return &wrapHeight;
        default:
            return nullptr;
    }
}

void DKInstallAssetNodeMakers() {
    SGSetNodeMaker(SGNodeClassImageLoaderNode,
                   [](SGSpace& space) -> SGNode* { return new SGImageLoaderNode(space.assetManager()); });
    SGSetNodeMaker(SGNodeClassSoundLoaderNode,
                   [](SGSpace& space) -> SGNode* { return new SGSoundLoaderNode(space.assetManager()); });
    SGSetNodeMaker(SGNodeClassStringToImageNode,
                   [](SGSpace& space) -> SGNode* { return new SGStringToImageNode(space.assetManager()); });
}
