// The compositor (one per Application): draws the key window's view tree, then the overlays
// (alerts), back to front, into a presenter's frame buffer. A Presenter is a context of the game's
// share group that is never the game's own (the ES2 renderer caches GL state; the thread's previous
// context is current again afterwards), a frame buffer, and the orientation the target is upright
// for; the interface is turned on it by interfaceQuarterTurns (a window is the glass as the device
// was held at launch; the headless screen is always upright). Alphas multiply down the tree; a view's
// GL layer shows its latest present, opaque, after waiting on the present's fence. Clipping uses the
// scissor box of every clipping ancestor, and the two innermost rounded rectangles are cut in the
// shader (quarter turns only).
//
// Before a frame it finds what hides the whole picture: the last GL layer or background colour, in
// the walk's order, at full opacity, by quarter turns, under no clip, that covers it. Nothing before
// it is drawn nor the picture cleared (only the bars around a framed one), so a game alone reaches
// the window in one pass and views over it cost their own area. A quad opaque everywhere is written
// without blending, and a GL layer shown texel for pixel at full opacity is copied by a plain program
// with nearest sampling. When a GL layer alone makes the frame, it is first offered to the presenter
// (showLayer): one that shows it its own way draws and swaps nothing here.
//
// With a presenter set (a window driver), a RunLoop turn observer commits at the end of every turn,
// nested runs included, in which something changed: a view setter, a tree change, a GL layer's
// present (a process-wide count), the interface's rotation, or a running animation (at most once a
// refresh, a timer keeping turns coming); so the loading indicator shows while the game's display
// link is stopped. Headless there is no presenter: nothing is drawn until a screenshot composites
// once. Textures of views that go are deleted at the next frame, unless their share group has gone
// meanwhile (GLContext::groupGeneration). A GL layer is one texture: a commit inside a nested run
// during a game frame shows it as the frame left it so far.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/RunLoop.h"

namespace plat::gl {
class GLLayer;
}

namespace plat::ui {

class Application;
class View;

// Where the compositor draws: a window's back buffer (the window driver) or the headless screen.
class Presenter {
public:
    struct Target {
        int width = 0, height = 0;  // pixels
        // The interface orientation the target is upright for: the glass as the device was held
        // when the window was made (headless, the interface's own). An interface in another
        // orientation is drawn turned (interfaceQuarterTurns).
        int orientation = 1;
        // Where the interface shows, in pixels from the target's top left; empty: all of it. The
        // rest stays black (a window resized to proportions that are not the glass's).
        int pictureX = 0, pictureY = 0, pictureWidth = 0, pictureHeight = 0;
    };
    virtual ~Presenter() = default;
    // Makes current a GL ES 2.0 context of the game's share group that is not the game's own (the
    // game's renderer caches GL state), binds the frame buffer to draw into and describes it. False
    // skips the frame.
    virtual bool beginFrame(Target* target) = 0;
    // Shows the frame drawn since beginFrame (a window surface's update, a swap, which vsync paces;
    // or a present).
    virtual void endFrame() = 0;
    // Called between beginFrame and endFrame when `layer` alone makes the whole frame: upright,
    // texel for pixel over the whole target, nothing over it. True: the presenter has shown its
    // picture its own way (the same pixels, opaque whatever their alpha), so nothing is drawn and
    // endFrame is not called.
    virtual bool showLayer(gl::GLLayer& layer) {
        (void)layer;
        return false;
    }
};

// One per application, main thread only. The previously current context is current again after
// every frame it draws.
class Compositor {
public:
    explicit Compositor(Application& app);
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    // With a presenter (a window), every turn of the application's run loop that changed what
    // shows, nested runs' included, ends in a commit: a frame drawn into it. Changes are views'
    // properties, their trees and drawings, a GL layer's present, running animations (which keep
    // the turns coming at the refresh rate) and the interface's rotation. Without one (headless)
    // nothing is drawn but by composite(), so game frames cost nothing here. Null removes it.
    void setPresenter(Presenter* presenter);
    Presenter* presenter() const { return m_presenter; }
    // One frame of the key window and (unless `overlays` is false) the overlays into `presenter`
    // now (a screenshot); false when it gave none.
    bool composite(Presenter& presenter, bool overlays = true);
    // Frames committed to the presenter at turn ends.
    std::uint64_t commitCount() const { return m_commits; }

    // Something that shows has changed (views call it; so may anything drawn another way).
    static void setNeedsCommit();
    // Drops a texture of the share group `generation` at the next frame (its view is gone).
    static void releaseTexture(unsigned texture, unsigned generation);

private:
    struct Resources;
    static Resources& resources();
    void turnEnded();
    // `depth` picks the walk list the view's subviews are copied to.
    void drawView(View& view, const double* parent, double opacity, size_t depth);
    // `opaque`: the texture's alpha counts as 1 (a GL layer). A quad whose pixels all come out
    // opaque is written without blending. `copy`: drawn by the plain copy program, now current.
    void drawQuad(const double* matrix, double width, double height, unsigned texture, const float* color,
                  bool swapRedBlue, bool opaque, bool flipped, bool copy = false);
    // What hides the whole picture: the last thing drawn, in the walk's order, that is opaque and
    // covers it (a GL layer or a background colour at full opacity, straight or turned by quarter
    // turns, under no clip but the picture's). Nothing drawn before it shows, so it is not drawn,
    // nor is the picture cleared. Null: nothing does.
    struct Cover {
        const View* view = nullptr;
        bool layer = false;  // its GL layer, else its background colour
        double matrix[6] = {};  // where it is drawn, in clip space
    };
    Cover findCover(const View& view, const double* parent, const double picture[4]) const;
    // Whether anything past the cover, in the walk's order, would draw.
    bool drawsPastCover(const View& view, bool* passed, double opacity) const;
    // The cover's GL layer when it alone makes the frame texel for pixel (see Presenter::showLayer).
    gl::GLLayer* soleLayer(const View& window) const;
    bool covers(const double* matrix, double width, double height, const double picture[4]) const;
    // While a cover lies ahead in the walk, the walk draws nothing.
    bool hidden(const View& view, bool layer);
    // A view's GL layer; one shown texel for pixel at full opacity is copied by a plain program.
    void drawLayer(const double* matrix, double width, double height, gl::GLLayer& layer, const float* tint);
    void refreshDrawing(View& view);
    // Clipping, in the target's pixels (GL's window coordinates): the scissor box of every
    // clipping ancestor, and the two innermost rounded rectangles, which the shader cuts.
    struct Clip {
        bool scissor = false;
        int box[4] = {0, 0, 0, 0};  // x, y, width, height
        float rect[2][4] = {};      // x0, y0, x1, y1; the innermost first
        float radius[2] = {0, 0};   // 0: none
    };
    // The clip of `view`'s bounds under `matrix` within `outer`; false when the bounds do not turn
    // by quarter turns (a rotated layer), which then clips nothing more.
    bool clipFor(const double* matrix, const View& view, const Clip& outer, bool cutChildren, Clip* clip) const;
    void applyClip(const Clip& clip);

    Application& m_app;
    Presenter* m_presenter = nullptr;
    foundation::TurnObserver m_observer;
    foundation::Timer m_refresh;  // keeps turns coming while animations run
    std::uint64_t m_seenPresents = 0;
    double m_lastCommit = -1;
    std::uint64_t m_commits = 0;
    Resources* m_gl = nullptr;  // of the frame being drawn
    int m_targetWidth = 0, m_targetHeight = 0;
    Clip m_clip;
    Cover m_cover;
    bool m_blending = true;
    // A drawing may change the tree, so each level walks a copy; the copies keep their storage
    // from frame to frame (no allocation per frame), and are emptied after each walk.
    std::vector<std::vector<std::shared_ptr<View>>> m_walks;
    std::vector<std::shared_ptr<View>> m_overlayWalk;
};

}  // namespace plat::ui
