// GIF through giflib: the first image of the file over a transparent canvas of the screen's size,
// its transparent colour (from the graphics control block before it) left clear.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/image/Decoders.h"

namespace plat::image::detail {

namespace {

struct Source {
    const uint8_t* bytes;
    size_t size;
    size_t at = 0;
};

int readBytes(GifFileType* gif, GifByteType* into, int count) {
    auto* source = static_cast<Source*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(count), source->size - source->at);
    std::memcpy(into, source->bytes + source->at, n);
    source->at += n;
    return static_cast<int>(n);
}

struct Closer {
    void operator()(GifFileType* gif) const {
        int ignored;
        DGifCloseFile(gif, &ignored);
    }
};

}  // namespace

bool decodeGIF(const uint8_t* bytes, size_t size, const Limits& limits, Bitmap* out, Error* error) {
    Source source{bytes, size};
    int code = 0;
    std::unique_ptr<GifFileType, Closer> gif(DGifOpen(&source, readBytes, &code));
    if (!gif) return fail(error, Failure::Damaged, std::string("GIF: ") + GifErrorString(code));
    const int width = gif->SWidth, height = gif->SHeight;
    if (width <= 0 || height <= 0) return fail(error, Failure::Damaged, "GIF: an empty screen");
    if (!withinLimits(width, height, limits, error)) return false;

    int transparent = -1;
    for (;;) {
        GifRecordType record;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR)
            return fail(error, Failure::Damaged, "GIF: damaged record");
        if (record == TERMINATE_RECORD_TYPE) return fail(error, Failure::Damaged, "GIF: no image");
        if (record == EXTENSION_RECORD_TYPE) {
            int kind = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &kind, &block) == GIF_ERROR)
                return fail(error, Failure::Damaged, "GIF: damaged extension");
            while (block) {
                GraphicsControlBlock control;
                if (kind == GRAPHICS_EXT_FUNC_CODE && DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                    transparent = control.TransparentColor;
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    return fail(error, Failure::Damaged, "GIF: damaged extension");
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return fail(error, Failure::Damaged, "GIF: damaged image");
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map || desc.Width <= 0 || desc.Height <= 0 || !withinLimits(desc.Width, desc.Height, limits, error))
            return error && error->failure == Failure::TooLarge ? false
                                                                 : fail(error, Failure::Damaged, "GIF: no colours");
        std::vector<GifPixelType> line(static_cast<size_t>(desc.Width));
        out->width = width;
        out->height = height;
        out->hasAlpha = true;
        out->rgba.assign(static_cast<size_t>(width) * height * 4, 0);
        // Interlaced rows come in four passes.
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        const int passes = desc.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            for (int row = desc.Interlace ? kStart[pass] : 0; row < desc.Height; row += desc.Interlace ? kStep[pass] : 1) {
                if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR)
                    return fail(error, Failure::Damaged, "GIF: damaged pixels");
                const int y = desc.Top + row;
                if (y < 0 || y >= height) continue;
                for (int col = 0; col < desc.Width; ++col) {
                    const int x = desc.Left + col, index = line[static_cast<size_t>(col)];
                    if (x < 0 || x >= width || index == transparent || index >= map->ColorCount) continue;
                    uint8_t* px = &out->rgba[(static_cast<size_t>(y) * width + x) * 4];
                    px[0] = map->Colors[index].Red;
                    px[1] = map->Colors[index].Green;
                    px[2] = map->Colors[index].Blue;
                    px[3] = 255;
                }
            }
        }
        return true;
    }
}

}  // namespace plat::image::detail
