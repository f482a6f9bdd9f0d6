// An off-screen OpenGL ES context on Mesa's surfaceless EGL platform: no display server, no GPU.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat::gl {

enum class Api { ES2, ES1 };

class HeadlessContext {
public:
    // nullptr with `error` set when no context can be made (no EGL, no Mesa driver, bad size).
    static std::unique_ptr<HeadlessContext> create(int width, int height, Api api, std::string* error);
    ~HeadlessContext();
    HeadlessContext(const HeadlessContext&) = delete;
    HeadlessContext& operator=(const HeadlessContext&) = delete;

    bool makeCurrent();
    int width() const { return m_width; }
    int height() const { return m_height; }
    Api api() const { return m_api; }
    // Ends a frame, as a window's buffer swap does: llvmpipe otherwise queues every frame drawn
    // (and the memory its commands hold) on its rasterizer threads until something reads the surface.
    void endFrame();
    // The surface's pixels as RGBA bytes, first row at the top of the picture.
    std::vector<uint8_t> readPixels() const;

private:
    HeadlessContext() = default;
    void* m_display = nullptr;
    void* m_context = nullptr;
    void* m_surface = nullptr;
    int m_width = 0;
    int m_height = 0;
    Api m_api = Api::ES2;
};

}  // namespace plat::gl
