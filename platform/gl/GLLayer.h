// A view's GL drawable: colour storage of the view's bounds times its content scale, in whole pixels,
// a texture of the share group that allocateStorage attaches to the frame buffer the caller has
// bound (allocation and read-back leave the texture and frame-buffer bindings as found: the ES2
// renderer's cache trusts them). present waits for the previous present's frame to be complete (one
// frame in flight, as a swap keeps it; otherwise llvmpipe queued frame after frame, each in fresh
// memory), flushes, drops an EGL fence and counts the content new; another context of the group (the
// compositor) waits on that fence before sampling, so presenting copies nothing. readPixels gives the
// storage top row first from any context of the group. Where GL allows it the storage is BGRA, X's
// byte order, and readTopDownBGRA hands a window's image its rows top first in one copy; RGBA reads
// (screenshots) convert on the way, with the same bytes as RGBA storage.
#pragma once

#include <cstdint>
#include <vector>

namespace plat::gl {

// The storage is a texture of the share group (GLContext), so the compositor's context samples
// what the view's context drew: presenting copies nothing. All calls but the size setters need a
// context of the group current on the calling thread.
class GLLayer {
public:
    GLLayer() = default;
    // Deletes the storage when a context of the group is current; otherwise the group frees it
    // with its last context.
    ~GLLayer();
    GLLayer(const GLLayer&) = delete;
    GLLayer& operator=(const GLLayer&) = delete;

    // In points; the drawable is their product with the scale, rounded to whole pixels.
    void setBounds(double width, double height);
    void setContentsScale(double scale);
    double contentsScale() const { return m_scale; }
    int drawableWidth() const;
    int drawableHeight() const;

    // Makes the colour storage at the drawable size (anew, dropping the old content) and attaches
    // it as colour attachment 0 of the frame buffer bound in the current context. False, with
    // nothing attached, when the drawable is empty or larger than GL allows.
    bool allocateStorage();
    // Deletes the storage (the frame buffer that held it is left incomplete).
    void releaseStorage();
    // The storage's size in pixels (0 before storage exists) and its texture name.
    int width() const { return m_width; }
    int height() const { return m_height; }
    unsigned texture() const { return m_texture; }

    // Ends a frame drawn into the storage: waits until the previous present's drawing is complete
    // (one frame in flight, as with a swap), flushes the drawing context, fences it for other
    // contexts, and marks the content new.
    void present();
    // Counts presents: a compositor remembers the last one it showed.
    std::uint64_t contentSerial() const { return m_serial; }
    bool hasContent() const { return m_serial > 0; }
    // Presents of every layer of the process: a compositor that saw the same count has nothing new
    // to show from any layer.
    static std::uint64_t presentCount();
    // Blocks until the last present's drawing is complete: a context other than the drawing one
    // calls this before it samples the storage.
    void waitForContent();

    // The storage's pixels as RGBA bytes, first row at the top (GL's last), through a frame buffer
    // of the current context; empty without storage. The current frame buffer binding is kept.
    std::vector<std::uint8_t> readPixels();
    // The same as GL keeps them, last row first, into `bottomUp` (its storage reused); false
    // without storage.
    bool readBottomUp(std::vector<std::uint8_t>* bottomUp);
    // The same straight into `pixels`, width() * height() * 4 bytes the caller owns (a window's
    // surface: no copy in between).
    bool readBottomUp(std::uint8_t* pixels);
    // The storage as BGRA bytes (0xAARRGGBB words, X's own layout), first row at the top, straight
    // into `pixels`: one copy, no pass of the caller's. False, with nothing read, where the storage
    // is not BGRA or GL cannot hand rows over top first.
    bool readTopDownBGRA(std::uint8_t* pixels);

private:
    void dropFence();
    // Reads the storage through a frame buffer of the current context, as `format` (GL_RGBA, or
    // GL_BGRA_EXT for BGRA storage) into packed rows, top row first when `topDown`.
    void read(unsigned format, bool topDown, std::uint8_t* pixels);

    double m_boundsWidth = 0;
    double m_boundsHeight = 0;
    double m_scale = 1;
    unsigned m_texture = 0;
    int m_width = 0;
    int m_height = 0;
    std::uint64_t m_serial = 0;
    void* m_fence = nullptr;  // EGLSyncKHR of the last present
    bool m_bgra = false;      // storage in X's byte order (GL_EXT_texture_format_BGRA8888)
};

}  // namespace plat::gl
