// PVRTC-compressed texture files (legacy version-2 header). The GL here has no PVRTC upload, so
// every level is decoded in software (2 or 4 bits per pixel: blocks unpacked, the 2 bpp interpolated
// weights resolved, each pixel blended from the four nearest blocks) and uploaded as RGBA bytes, in
// the file's row order. Header sizes are checked against the file: a short file, a size that is not
// a power of two or a file without levels gives texture 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The GL enums of the two formats, kept as the texture's internal format.
inline constexpr uint32_t DK_GL_COMPRESSED_RGBA_PVRTC_4BPPV1 = 0x8C02;
inline constexpr uint32_t DK_GL_COMPRESSED_RGBA_PVRTC_2BPPV1 = 0x8C03;

class PVRTexture {
public:
    // Null when the file is unreadable, malformed (bad tag or format, a size that is not a power
    // of two, fewer bytes than the header claims) or cannot be uploaded.
    static std::unique_ptr<PVRTexture> initWithContentsOfFile(const std::string& path);
    // Only "file://" URLs; anything else gives null.
    static std::unique_ptr<PVRTexture> initWithContentsOfURL(const std::string& url);

    // Parses the header and splits the level data; false when the file is malformed.
    bool unpackPVRData(const std::vector<uint8_t>& data);
    // Decodes and uploads the levels; false (with the GL error logged) when an upload fails.
    bool createGLTexture();

    uint32_t name() const { return m_name; }
    uint32_t width() const { return m_width; }
    uint32_t height() const { return m_height; }
    bool hasAlpha() const { return m_hasAlpha; }

    // Frees the level data only; the GL texture belongs to whoever took its name.
    ~PVRTexture() = default;

private:
    PVRTexture() = default;

    std::vector<std::vector<uint8_t>> m_imageData;
    uint32_t m_name = 0;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_internalFormat = DK_GL_COMPRESSED_RGBA_PVRTC_4BPPV1;
    bool m_hasAlpha = false;
};

// Decodes one level of PVRTC data (blocks in the format's twiddled order) into RGBA bytes, rows in
// the order of the data. `data` must hold the level's full size: max(width ÷ 4 or ÷ 8, 2) ×
// max(height ÷ 4, 2) blocks of 8 bytes; width and height are powers of two.
std::vector<uint8_t> DKDecodePVRTC(const uint8_t* data, uint32_t width, uint32_t height,
                                   bool twoBitsPerPixel);

// Bytes of one level: blocks across × blocks down × 8.
size_t DKPVRTCLevelSize(uint32_t width, uint32_t height, bool twoBitsPerPixel);
