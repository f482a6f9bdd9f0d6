#include "platform/av/FFmpeg.h"

#include <dlfcn.h>

namespace plat::av {

namespace {

struct Loaded {
    FFmpeg functions;
    bool ok = false;
    std::string error;
};

// Their own scope: nothing loaded later binds to them by accident.
void* openLibrary(const char* name, std::string* error) {
    void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!library && error->empty()) {
        const char* why = ::dlerror();
        *error = why ? why : name;
    }
    return library;
}

Loaded load() {
    Loaded loaded;
    std::string& error = loaded.error;
    void* avutil = openLibrary("libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR), &error);
    void* swresample = openLibrary("libswresample.so." AV_STRINGIFY(LIBSWRESAMPLE_VERSION_MAJOR), &error);
    void* swscale = openLibrary("libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR), &error);
    void* avcodec = openLibrary("libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR), &error);
    void* avformat = openLibrary("libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR), &error);
    if (!error.empty()) return loaded;
#define DK_FFMPEG_FIND(library, name)                                                              \
    loaded.functions.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name));          \
    if (!loaded.functions.name && error.empty()) error = "no " #name " in lib" #library;
    DK_FFMPEG_FUNCTIONS(DK_FFMPEG_FIND)
#undef DK_FFMPEG_FIND
    loaded.ok = error.empty();
    return loaded;
}

}  // namespace

const FFmpeg* ffmpeg(std::string* error) {
    static const Loaded loaded = load();
    if (!loaded.ok && error) *error = loaded.error;
    return loaded.ok ? &loaded.functions : nullptr;
}

}  // namespace plat::av
