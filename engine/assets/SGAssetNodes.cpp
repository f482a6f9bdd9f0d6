#include "engine/assets/SGAssetNodes.h"

#include "port/DKTextures.h"
#include "scenegraph/SGSpace.h"

SGImageLoaderNode::SGImageLoaderNode(DKEngineAssetManager* manager)
    : SGAssetLoaderNode(manager, SGNodeClassImageLoaderNode, SGPortValueType::IMAGE) {
    if (m_assetManager) m_assetManager->addImageLoader(this);
}

SGImageLoaderNode::~SGImageLoaderNode() {
    if (m_assetManager) m_assetManager->removeImageLoader(this);
    m_imageHandle.reset();
}

void SGImageLoaderNode::dropAsset() {
    m_imageHandle.forget();
    asset.markAsDirty();
}

void SGImageLoaderNode::compute() {
    std::string assetName = name.stringValue();
    if (assetName.empty() || !m_assetManager) {
        asset.value = SGImageNull;
        return;
    }
    // Assigning releases the asset held before; the new handle comes already retained.
    m_imageHandle = m_assetManager->imageForName(assetName);
    if (m_imageHandle.empty()) {
        asset.value = SGImageNull;
        return;
    }
    if (m_imageHandle.get()->isNull()) m_imageHandle = m_assetManager->imageForName(assetName);
    asset.value = m_imageHandle.empty() ? SGImageNull : *m_imageHandle.get();
}

SGSoundLoaderNode::SGSoundLoaderNode(DKEngineAssetManager* manager)
    : SGAssetLoaderNode(manager, SGNodeClassSoundLoaderNode, SGPortValueType::SOUND) {
    if (m_assetManager) m_assetManager->addSoundLoader(this);
}

SGSoundLoaderNode::~SGSoundLoaderNode() {
    if (m_assetManager) m_assetManager->removeSoundLoader(this);
}

void SGSoundLoaderNode::compute() {
    std::string assetName = name.stringValue();
    if (assetName.empty()) return;
    m_sound = m_assetManager ? m_assetManager->soundForName(assetName) : nullptr;
    asset.setValue(m_sound);
}

void SGSoundLoaderNode::dropSound() {
    m_sound.reset();
    asset.markAsDirty();
}

SGStringToImageNode::SGStringToImageNode(DKEngineAssetManager* manager) : m_assetManager(manager) {
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
    if (m_assetManager) m_assetManager->addImageLoader(this);
}

SGStringToImageNode::~SGStringToImageNode() {
    freeTexture();
    if (m_assetManager) m_assetManager->removeImageLoader(this);
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
