// Port identifiers. Identifiers are shared across node types: each node answers portForID only for
// the identifiers it has. The scripts name ports by these exact names.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

// clang-format off
#define SG_PORT_IDS(X)                                                                              \
    X(value) X(input1) X(input2) X(operation) X(output) X(name) X(asset) X(color) X(r) X(g) X(b)    \
    X(a) X(flipHorizontal) X(flipVertical) X(input) X(near) X(far) X(viewRotation)                   \
    X(modelRotation) X(time) X(spawnParticles) X(numParticles) X(image) X(direction) X(lifetime)     \
    X(lifestart) X(colorTarget) X(colorTransitionTime) X(x) X(y) X(rotation) X(size) X(sizeTarget)   \
    X(sizeTransitionTime) X(gravityX) X(gravityY) X(speed) X(angularVelocity) X(blendingMode)        \
    X(angle) X(spacing) X(copies) X(gain) X(sound) X(dx) X(dy) X(sourceRelative) X(volume) X(pitch)  \
    X(loop) X(trigger) X(stop) X(pause) X(resume) X(playing) X(width) X(height)                      \
    X(horizontalWrapping) X(verticalWrapping) X(horizontalAnchor) X(verticalAnchor) X(tileWidth)     \
    X(tileHeight) X(text) X(font) X(fontSize) X(alignment) X(wrapX) X(wrapY) X(wrapWidth)            \
    X(wrapHeight) X(wrap)
// clang-format on

enum class SGPortID : int32_t {
#define SG_PORT_ID_ENUMERATOR(id) id,
    SG_PORT_IDS(SG_PORT_ID_ENUMERATOR)
#undef SG_PORT_ID_ENUMERATOR
};

inline constexpr int SGPortIDCount = static_cast<int>(SGPortID::wrap) + 1;

// The name-to-identifier map the script binding looks port names up in (built on first use).
const std::map<std::string, SGPortID>& SGPortNameMap();

std::optional<SGPortID> SGPortIDForName(const std::string& name);

// The port's name, or "" for a value outside the identifiers.
const char* SGPortNameForID(SGPortID id);
