#include "port/DKTextures.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "port/DKFileProblems.h"
#include "port/PVRTexture.h"
#include "port/Texture2D.h"

namespace {

constexpr int kMaxImagePoints = 2048;

float& screenScale() {
    static float scale = [] {
        const char* env = std::getenv("DROVIK_SCREEN_SCALE");
        float value = env ? std::strtof(env, nullptr) : 0.0f;
        return value > 0.0f ? value : 1.0f;
    }();
    return scale;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string extensionOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return path.substr(dot + 1);
}

void fillFromTexture2D(SGImage* image, const Texture2D& texture, bool halve) {
    image->texture = texture.name();
    image->textureRect = SGTextureRect{0, 0, texture.maxS(), texture.maxT()};
    image->premultiplied = 0;
    if (halve) {
        image->textureWidth = static_cast<int32_t>(texture.pixelsWide()) >> 1;
        image->textureHeight = static_cast<int32_t>(texture.pixelsHigh()) >> 1;
    } else {
        image->textureWidth = static_cast<int32_t>(texture.pixelsWide());
        image->textureHeight = static_cast<int32_t>(texture.pixelsHigh());
    }
    image->width = image->getWidth();
    image->height = image->getHeight();
}

}  // namespace

float DKScreenScale() {
    return screenScale();
}

void DKSetScreenScale(float scale) {
    screenScale() = scale;
}

std::string checkPathForDoubleResolution(const std::string& path) {
    if (DKScreenScale() != 2.0f) return path;
    std::string ext = extensionOf(path);
    std::string base = ext.empty() ? path : path.substr(0, path.size() - ext.size() - 1);
    std::string doubled = base + "@2x.png";
    return fileExists(doubled) ? doubled : path;
}

SGImage DKLoadImageFromFile(const char* path) {
    SGImage image = SGImageNull;
    if (!path) return image;
    std::string file(path);
    if (extensionOf(file) == "pvrtc") {
        auto pvr = PVRTexture::initWithContentsOfFile(file);
        if (!pvr || pvr->name() == 0) {
            const std::string problem = dk::port::fileOpenProblem(file);
            dk::port::reportFileProblem(file, problem.empty() ? "not a PVRTC texture that can be loaded" : problem);
        }
        if (pvr && pvr->name() != 0) {
            image.texture = pvr->name();
            image.textureWidth = static_cast<int32_t>(pvr->width());
            image.textureHeight = static_cast<int32_t>(pvr->height());
            image.textureRect = SGTextureRect{0, 0, 1.0f, 1.0f};
            image.premultiplied = 0;
            image.width = image.getWidth();
            image.height = image.getHeight();
        }
        return image;
    }

    DKDecodedImage decoded;
    std::string error;
    const std::string resolved = checkPathForDoubleResolution(file);
    if (!DKDecodeImageFile(resolved, kMaxImagePoints, &decoded, &error)) {
        // The game gets the null image (a white square); its author gets the file and the reason.
        if (error.compare(0, resolved.size() + 2, resolved + ": ") == 0) error.erase(0, resolved.size() + 2);
        if (error.compare(0, 15, "image too large") == 0)
            error += " (at most " + std::to_string(kMaxImagePoints) + " points a side)";
        dk::port::reportFileProblem(resolved, error);
        return image;
    }
    auto texture = Texture2D::initWithImage(&decoded);
    if (!texture) return image;
    image.texture = texture->name();
    image.textureWidth = static_cast<int32_t>(texture->contentSize().width / texture->maxS());
    image.textureHeight = static_cast<int32_t>(texture->contentSize().height / texture->maxT());
    image.textureRect = SGTextureRect{0, 0, texture->maxS(), texture->maxT()};
    image.premultiplied = 1;
    image.width = image.getWidth();
    image.height = image.getHeight();
    return image;
}

SGImage DKImageFromString(const char* text, const char* fontName, float fontSize, DKTextAlignment alignment,
                          bool fixedSize, float width, float height) {
    SGImage image = SGImageNull;
    if (DKScreenScale() == 2.0f) {
        fontSize *= 2;
        width *= 2;
        height *= 2;
    }
    if (alignment != DKTextAlignmentLeft && alignment != DKTextAlignmentRight)
        alignment = DKTextAlignmentCenter;
    std::string string = text ? text : "";
    std::string font = fontName ? fontName : "";
    // Boxes beyond any texture size are cut to the GL limit later; cap them here so the
    // conversion to an integer stays defined.
    auto side = [](float v) { return v > 0 ? static_cast<uint32_t>(std::min(v, 1048576.0f)) : 0u; };
    std::unique_ptr<Texture2D> texture =
        fixedSize ? Texture2D::initWithString(string, alignment, font, fontSize, side(width), side(height))
                  : Texture2D::initWithString(string, alignment, font, fontSize);
    if (!texture) return image;
    fillFromTexture2D(&image, *texture, DKScreenScale() == 2.0f);
    return image;
}
