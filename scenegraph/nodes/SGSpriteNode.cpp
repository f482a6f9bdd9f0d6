#include "scenegraph/nodes/SGSpriteNode.h"

#include <cmath>

namespace {

// Tiles along an axis of half extent `half` cut every `tile` units, or -1 when the axis has no
// bounded count (tile below 1, or too many, or a size that is not a number).
int32_t tileCount(float half, int32_t tile) {
    if (tile < 1) return -1;
    float tiles = std::ceil(2.0f * half / static_cast<float>(tile));
    if (!(tiles <= static_cast<float>(SGSpriteMaxTiles))) return -1;
    return tiles > 0.0f ? static_cast<int32_t>(tiles) : 0;
}

bool sameImage(const SGImage& a, const SGImage& b) {
    return a.texture == b.texture && a.textureRect == b.textureRect && a.width == b.width &&
           a.height == b.height && a.textureWidth == b.textureWidth && a.textureHeight == b.textureHeight;
}

void appendTile(std::vector<float>& out, float left, float bottom, float right, float top,
                const SGTextureRect& r) {
    const float tile[] = {left,  bottom, r.x0, r.y0, right, bottom, r.x1, r.y0, left,  top, r.x0, r.y1,
                          right, bottom, r.x1, r.y0, left,  top,    r.x0, r.y1, right, top, r.x1, r.y1};
    out.insert(out.end(), std::begin(tile), std::end(tile));
}

// A port's own getter as its owner's compute sees it, without the calls: through the source
// when connected, else the stored value once the owner is up to date (it is, unless a source's
// compute marked it dirty again).
template <class Port>
[[gnu::always_inline]] inline auto ownValue(SGNode& owner, Port& port,
                                            decltype(port.value) (SGPort::*read)()) {
    if (SGPort* source = port.source()) return (source->*read)();
    owner.update();
    return port.value;
}

}  // namespace

SGSpriteNode::SGSpriteNode() {
    addNodeClass(SGNodeClassSpriteNode);
    addInputPort(&color, SGPortValueType::COLOR);
    addInputPort(&image, SGPortValueType::IMAGE);
    for (SGNumberPort* port : {&x, &y, &width, &height, &angle}) addInputPort(port, SGPortValueType::NUMBER);
    for (SGIntegerPort* port : {&blendingMode, &horizontalWrapping, &verticalWrapping, &horizontalAnchor,
                                &verticalAnchor, &tileHeight, &tileWidth})
        addInputPort(port, SGPortValueType::INTEGER);
}

void SGSpriteNode::compute() {
    if (!dirty) return;
    dirty = false;

    SGSpriteDrawRecord& r = record;
    r.drawColor = ownValue(*this, color, &SGPort::colorValue);
    SGImage source = ownValue(*this, image, &SGPort::imageValue);
    r.centerX = ownValue(*this, x, &SGPort::numberValue);
    r.centerY = ownValue(*this, y, &SGPort::numberValue);
    r.halfWidth = ownValue(*this, width, &SGPort::numberValue) * 0.5f;
    r.halfHeight = ownValue(*this, height, &SGPort::numberValue) * 0.5f;
    r.drawAngle = ownValue(*this, angle, &SGPort::numberValue);
    r.blendMode = ownValue(*this, blendingMode, &SGPort::intValue);
    r.horizontalWrapping = ownValue(*this, horizontalWrapping, &SGPort::intValue);
    r.verticalWrapping = ownValue(*this, verticalWrapping, &SGPort::intValue);
    r.horizontalAnchor = ownValue(*this, horizontalAnchor, &SGPort::intValue);
    r.verticalAnchor = ownValue(*this, verticalAnchor, &SGPort::intValue);
    int32_t tileW = ownValue(*this, tileWidth, &SGPort::intValue);
    int32_t tileH = ownValue(*this, tileHeight, &SGPort::intValue);

    r.drawImage = source;
    r.drawImage.width = tileW;
    r.drawImage.height = tileH;

    if (source.textureWidth >= 1 && source.premultiplied) {
        r.premultiplyColor = 1;
        r.drawColor.r *= r.drawColor.a;
        r.drawColor.g *= r.drawColor.a;
        r.drawColor.b *= r.drawColor.a;
    } else {
        r.premultiplyColor = 0;
    }

    r.tileColumns = 0;
    r.tileRows = 0;
    if (r.horizontalWrapping == SGSpriteTiled) {
        r.tileColumns = tileCount(r.halfWidth, tileW);
        if (r.tileColumns < 0) r.horizontalWrapping = SGSpriteStretched, r.tileColumns = 0;
    }
    if (r.verticalWrapping == SGSpriteTiled) {
        r.tileRows = tileCount(r.halfHeight, tileH);
        if (r.tileRows < 0) r.verticalWrapping = SGSpriteStretched, r.tileRows = 0;
    }
    if (static_cast<int64_t>(r.tileColumns) * r.tileRows > SGSpriteMaxTiles) {
        r.horizontalWrapping = r.verticalWrapping = SGSpriteStretched;
        r.tileColumns = r.tileRows = 0;
    }
}

bool SGSpriteNode::layoutTiles() {
    const SGSpriteDrawRecord& r = record;
    const SGImage& img = r.drawImage;
    float tw = static_cast<float>(img.width);
    float th = static_cast<float>(img.height);
    SGSpriteTiles& t = tiles;
    if (t.built && t.tileKeyHalfWidth == r.halfWidth && t.tileKeyHalfHeight == r.halfHeight &&
        t.tileKeyTileWidth == tw && t.tileKeyTileHeight == th && sameImage(t.tileKeyImage, img) &&
        t.tileKeyWrapping[0] == r.horizontalWrapping && t.tileKeyWrapping[1] == r.verticalWrapping &&
        t.tileKeyAnchor[0] == r.horizontalAnchor && t.tileKeyAnchor[1] == r.verticalAnchor)
        return false;

    auto hAnchor = static_cast<SGAnchorMode>(r.horizontalAnchor);
    auto vAnchor = static_cast<SGAnchorMode>(r.verticalAnchor);
    bool hTiled = r.horizontalWrapping == SGSpriteTiled;
    bool vTiled = r.verticalWrapping == SGSpriteTiled;
    // The other axis keeps the image's own size when it is fixed (a tiled axis never is).
    float hw, hh;
    SGTextureRect rect;
    r.fixedExtent(hw, hh, rect);

    int32_t columns = hTiled ? r.tileColumns : 1;
    int32_t rows = vTiled ? r.tileRows : 1;
    if (!hTiled && !vTiled) columns = rows = 0;
    std::vector<float>& out = t.tileVertices;
    out.clear();
    out.reserve(static_cast<size_t>(columns) * rows * 24);
    for (int32_t i = 0; i < columns; ++i) {
        SGTextureRect column = rect;
        float left = -hw, right = hw;
        if (hTiled) {
            left = static_cast<float>(i) * tw - hw;
            float w = hw - left;
            if (w < tw)
                column.cropHorizontally(w / tw, hAnchor);
            else
                w = tw;
            right = left + w;
        }
        for (int32_t j = 0; j < rows; ++j) {
            SGTextureRect cell = column;
            float bottom = -hh, top = hh;
            if (vTiled) {
                bottom = static_cast<float>(j) * th - hh;
                float h = hh - bottom;
                if (h < th)
                    cell.cropVertically(h / th, vAnchor);
                else
                    h = th;
                top = bottom + h;
            }
            appendTile(out, left, bottom, right, top, cell);
        }
    }

    t.tileVertexCount = static_cast<int32_t>(out.size() / 4);
    t.tileKeyHalfWidth = r.halfWidth;
    t.tileKeyHalfHeight = r.halfHeight;
    t.tileKeyTileWidth = tw;
    t.tileKeyTileHeight = th;
    t.tileKeyImage = img;
    t.tileKeyWrapping[0] = r.horizontalWrapping;
    t.tileKeyWrapping[1] = r.verticalWrapping;
    t.tileKeyAnchor[0] = r.horizontalAnchor;
    t.tileKeyAnchor[1] = r.verticalAnchor;
    t.built = true;
    return true;
}

SGPort* SGSpriteNode::portForID(SGPortID id) {
    switch (id) {
        case SGPortID::color:
            return &color;
        case SGPortID::image:
            return &image;
        case SGPortID::x:
            return &x;
        case SGPortID::y:
            return &y;
        case SGPortID::width:
            return &width;
        case SGPortID::height:
            return &height;
        case SGPortID::angle:
            return &angle;
        case SGPortID::blendingMode:
            return &blendingMode;
        case SGPortID::horizontalWrapping:
            return &horizontalWrapping;
        case SGPortID::verticalWrapping:
            return &verticalWrapping;
        case SGPortID::horizontalAnchor:
            return &horizontalAnchor;
        case SGPortID::verticalAnchor:
            return &verticalAnchor;
        case SGPortID::tileHeight:
            return &tileHeight;
        case SGPortID::tileWidth:
            return &tileWidth;
        default:
            return nullptr;
    }
}

void SGSpriteDrawRecord::fixedExtent(float& hw, float& hh, SGTextureRect& rect) const {
    rect = drawImage.textureRect;
    hw = halfWidth;
    hh = halfHeight;
    if (horizontalWrapping == SGSpriteFixed) {
        float half = static_cast<float>(drawImage.getWidth()) * 0.5f;
        if (hw < half)
            rect.cropHorizontally(hw / half, static_cast<SGAnchorMode>(horizontalAnchor));
        else
            hw = half;
    }
    if (verticalWrapping == SGSpriteFixed) {
        float half = static_cast<float>(drawImage.getHeight()) * 0.5f;
        if (hh < half)
            rect.cropVertically(hh / half, static_cast<SGAnchorMode>(verticalAnchor));
        else
            hh = half;
    }
}
