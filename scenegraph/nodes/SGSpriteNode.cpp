#include "scenegraph/nodes/SGSpriteNode.h"

#include <cmath>
#include <cstdint>

#include "scenegraph/SGRenderMath.h"

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

// One column or row of a tile layout: its extent from the sprite's centre and the texture
// coordinates along that axis.
struct Span {
    float start, end;
    float t0, t1;
};

// The spans of one axis of half extent `half`: `count` tiles of `tile` units from its start, only
// the last one partial (its texture cropped at the anchor); an untiled axis is one span of it all.
void axisSpans(bool tiled, int32_t count, float half, float tile, float t0, float t1, SGAnchorMode anchor,
               std::vector<Span>& out) {
    if (!tiled) {
        out.push_back({-half, half, t0, t1});
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        float from = t0, to = t1;
        float start = static_cast<float>(i) * tile - half;
        float extent = half - start;
        if (extent < tile)
            dk::scenegraph::cropSpan(from, to, extent / tile, anchor);
        else
            extent = tile;
        out.push_back({start, start + extent, from, to});
    }
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
    for (SGPort* port : {&x, &y, &angle}) markPlacement(port);
}

// The model rotation the renderers draw with, once per change rather than once per frame; an angle
// of zero gives what sinCosDegrees gives for it (sin keeps the zero's sign) without the calls.
static void setRotation(SGSpriteDrawRecord& r, float angle) {
    r.drawAngle = angle;
    if (angle == 0.0f) {
        r.drawSin = angle;
        r.drawCos = 1.0f;
    } else {
        dk::scenegraph::sinCosDegrees(angle, r.drawSin, r.drawCos);
    }
}

void SGSpriteNode::compute() {
    if (!dirty) return;
    dirty = false;
    ++drawVersion;

    SGSpriteDrawRecord& r = record;
    if (!fullCompute) {  // moved or turned, nothing else
        r.centerX = ownValue(*this, x, &SGPort::numberValue);
        r.centerY = ownValue(*this, y, &SGPort::numberValue);
        setRotation(r, ownValue(*this, angle, &SGPort::numberValue));
        return;
    }
    fullCompute = false;  // before reading: a read that marks the sprite again sets it again
    ++shapeVersion;

    SGImage source;
    int32_t tileW, tileH;
    // A sprite that reads no other node (nearly all do not) takes its stored values in one pass:
    // with no source nothing can mark it dirty again while it reads, so no read needs update().
    auto bits = [](const SGPort& port) { return reinterpret_cast<uintptr_t>(port.source()); };
    if ((bits(color) | bits(image) | bits(x) | bits(y) | bits(width) | bits(height) | bits(angle) |
         bits(blendingMode) | bits(horizontalWrapping) | bits(verticalWrapping) | bits(horizontalAnchor) |
         bits(verticalAnchor) | bits(tileWidth) | bits(tileHeight)) == 0) {
        r.drawColor = color.value;
        source = image.value;
        r.centerX = x.value;
        r.centerY = y.value;
        r.halfWidth = width.value * 0.5f;
        r.halfHeight = height.value * 0.5f;
        setRotation(r, angle.value);
        r.blendMode = blendingMode.value;
        r.horizontalWrapping = horizontalWrapping.value;
        r.verticalWrapping = verticalWrapping.value;
        r.horizontalAnchor = horizontalAnchor.value;
        r.verticalAnchor = verticalAnchor.value;
        tileW = tileWidth.value;
        tileH = tileHeight.value;
    } else {
        r.drawColor = ownValue(*this, color, &SGPort::colorValue);
        source = ownValue(*this, image, &SGPort::imageValue);
        r.centerX = ownValue(*this, x, &SGPort::numberValue);
        r.centerY = ownValue(*this, y, &SGPort::numberValue);
        r.halfWidth = ownValue(*this, width, &SGPort::numberValue) * 0.5f;
        r.halfHeight = ownValue(*this, height, &SGPort::numberValue) * 0.5f;
        setRotation(r, ownValue(*this, angle, &SGPort::numberValue));
        r.blendMode = ownValue(*this, blendingMode, &SGPort::intValue);
        r.horizontalWrapping = ownValue(*this, horizontalWrapping, &SGPort::intValue);
        r.verticalWrapping = ownValue(*this, verticalWrapping, &SGPort::intValue);
        r.horizontalAnchor = ownValue(*this, horizontalAnchor, &SGPort::intValue);
        r.verticalAnchor = ownValue(*this, verticalAnchor, &SGPort::intValue);
        tileW = ownValue(*this, tileWidth, &SGPort::intValue);
        tileH = ownValue(*this, tileHeight, &SGPort::intValue);
    }
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

    // The other axis keeps the image's own size when it is fixed (a tiled axis never is).
    float hw, hh;
    SGTextureRect rect;
    r.fixedExtent(hw, hh, rect);
    std::vector<Span> columns, rows;
    if (r.horizontalWrapping == SGSpriteTiled || r.verticalWrapping == SGSpriteTiled) {
        axisSpans(r.horizontalWrapping == SGSpriteTiled, r.tileColumns, hw, tw, rect.x0, rect.x1,
                  static_cast<SGAnchorMode>(r.horizontalAnchor), columns);
        axisSpans(r.verticalWrapping == SGSpriteTiled, r.tileRows, hh, th, rect.y0, rect.y1,
                  static_cast<SGAnchorMode>(r.verticalAnchor), rows);
    }
    std::vector<float>& out = t.tileVertices;
    out.clear();
    out.reserve(columns.size() * rows.size() * 24);
    for (const Span& column : columns)
        for (const Span& row : rows)
            appendTile(out, column.start, row.start, column.end, row.end,
                       {column.t0, row.t0, column.t1, row.t1});

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
