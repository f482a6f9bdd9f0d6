// Views: a tree of rectangles in points, with the properties touches and the compositor read, their
// drawing and their animations. A view that draws (drawsContent, draw(cairo_t*)) draws its bounds
// into a Cairo surface of the bounds times the screen's scale, uploaded as a texture kept until
// setNeedsDisplay or a new size; the background colour is a quad under it. Everything is
// premultiplied. Text is Pango with sizes in the context's units; a family fontconfig does not list
// is DejaVu Sans. A layer transform turns a view and its subviews about its centre; hit tests, touch
// locations and point conversions go through the same model transforms, so a finger presses what
// shows under it. A view whose glLayer() is set shows that GL drawable's latest present.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Animation.h"
#include "platform/ui/Responder.h"

typedef struct _cairo cairo_t;

namespace plat::gl {
class GLLayer;
}

namespace plat::ui {

class Image;
class ViewController;
struct ViewAnimations;

struct Color {
    double r = 0, g = 0, b = 0, a = 1;
    friend bool operator==(const Color&, const Color&) = default;
};

// Which of a view's margins and sizes follow its superview's size.
enum AutoresizingMask : unsigned {
    kAutoresizingNone = 0,
    kAutoresizingFlexibleLeftMargin = 1,
    kAutoresizingFlexibleWidth = 2,
    kAutoresizingFlexibleRightMargin = 4,
    kAutoresizingFlexibleTopMargin = 8,
    kAutoresizingFlexibleHeight = 16,
    kAutoresizingFlexibleBottomMargin = 32,
};

// The layer's own transform, about the view's centre: a translation, then a rotation (radians,
// clockwise on screen), then a scale.
struct LayerTransform {
    double rotation = 0;
    double scaleX = 1, scaleY = 1;
    double tx = 0, ty = 0;
    friend bool operator==(const LayerTransform&, const LayerTransform&) = default;
};

// Made with std::make_shared; a superview owns its subviews, a subview knows its superview only
// while it is one. The platform's layer is one with its view here: its opacity is the view's alpha,
// its transform and animations are the view's.
class View : public Responder, public std::enable_shared_from_this<View> {
public:
    View();
    explicit View(const Rect& frame);
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // The name dumps and traces give: the platform's class, or the player's own.
    virtual const char* className() const { return "UIView"; }

    // In the superview's coordinates. A new size lays the subviews out by their autoresizing
    // masks (when autoresizesSubviews), then calls layoutSubviews.
    const Rect& frame() const { return m_frame; }
    void setFrame(const Rect& frame);
    Rect bounds() const { return {0, 0, m_frame.width, m_frame.height}; }

    View* superview() const { return m_superview; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return m_subviews; }
    // Takes `view` from its old superview; on top of the others, or at `index` (clamped).
    void addSubview(std::shared_ptr<View> view);
    void insertSubview(std::shared_ptr<View> view, size_t index);
    void removeFromSuperview();
    void bringSubviewToFront(View* view);
    void sendSubviewToBack(View* view);
    bool isDescendantOf(const View* view) const;
    // The window at the root of this view's tree, if any.
    Window* window() const;
    // The controller whose view this is.
    ViewController* viewController() const { return m_viewController; }

    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden);
    // 0 to 1. The layer's opacity is the same value (the platform keeps one for both). Inside an
    // animation block the change animates.
    double alpha() const { return m_alpha; }
    void setAlpha(double alpha);
    double layerOpacity() const { return m_alpha; }
    void setLayerOpacity(double opacity) { setAlpha(opacity); }
    // None: clear. Drawn under the view's content, with its alpha.
    const std::optional<Color>& backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(std::optional<Color> color);
    // Inside an animation block the change animates (key "transform").
    const LayerTransform& layerTransform() const { return m_layerTransform; }
    void setLayerTransform(const LayerTransform& transform);
    bool isUserInteractionEnabled() const { return m_userInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) { m_userInteractionEnabled = enabled; }
    // Off: the view takes only the first of several touches down at once.
    bool isMultipleTouchEnabled() const { return m_multipleTouchEnabled; }
    void setMultipleTouchEnabled(bool enabled) { m_multipleTouchEnabled = enabled; }
    // Pixels per point of the view's drawable; 1 until set.
    double contentScaleFactor() const { return m_contentScaleFactor; }
    void setContentScaleFactor(double scale) {
        if (scale > 0) m_contentScaleFactor = scale;
    }
    unsigned autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(unsigned mask) { m_autoresizingMask = mask; }
    bool autoresizesSubviews() const { return m_autoresizesSubviews; }
    void setAutoresizesSubviews(bool on) { m_autoresizesSubviews = on; }

    // Between this view's coordinates and `other`'s (null: the window's), through the layer
    // transforms of the views on the way (their model values, not what an animation shows).
    Point convertPointToView(Point point, const View* other) const;
    Point convertPointFromView(Point point, const View* other) const;
    // Where the frames alone put this view's top left corner in the window, layer transforms
    // left out (what view dumps show).
    Point originInWindow() const;

    // The deepest view under `point` (this view's coordinates) that takes touches: none from a view
    // that is hidden, nearly transparent (alpha < 0.01), not interactive or not under the point;
    // subviews front to back, so one outside its superview's bounds is never hit.
    virtual View* hitTest(Point point, const Event* event);
    virtual bool pointInside(Point point, const Event* event) const;

    Responder* nextResponder() const override;

    // Hooks for subclasses.
    virtual void layoutSubviews() {}
    virtual void didMoveToSuperview() {}
    virtual void didMoveToWindow() {}

    // Drawing. A view that draws says so and draws its bounds (points; the context is scaled to
    // the screen's pixels and starts clear) into its own surface, premultiplied, which is kept
    // until setNeedsDisplay or a new size: the compositor draws it stretched to the frame shown.
    virtual bool drawsContent() const { return false; }
    virtual void draw(cairo_t*) {}
    void setNeedsDisplay();
    bool needsDisplay() const { return m_needsDisplay; }
    // A view whose content is a GL drawable (the game's view) gives it: the compositor shows its
    // latest presented content, opaque, under the subviews.
    virtual gl::GLLayer* glLayer() const { return nullptr; }

    // Animations. A block's changes of alpha, frame and layer transform animate, each under the key
    // the platform's layer uses ("opacity", "position", "bounds", "transform"); a new animation of a key replaces the running
    // one, which then ends unfinished. `completion` runs once, when the block's animations are
    // over (on a later turn even when nothing changed), told whether all ran to their end.
    static void animate(const ViewAnimationOptions& options, const std::function<void()>& changes,
                        std::function<void(bool finished)> completion = {});
    // A layer animation under `key` (traced by it as "ui animation <key> begin" and "... end");
    // false for a key path it cannot animate.
    bool addAnimation(const BasicAnimation& animation, const std::string& key);
    void removeAnimation(const std::string& key);
    void removeAllAnimations();
    // The running animations' keys, oldest first.
    std::vector<std::string> animationKeys() const;
    // What shows now on the run loop's clock: the model's values, or the animated ones.
    double presentationAlpha() const;
    Rect presentationFrame() const;
    double presentationRotation() const;
    LayerTransform presentationTransform() const;

    // A number to find the view by (viewWithTag: this view or the first descendant, depth first).
    long tag() const { return m_tag; }
    void setTag(long tag) { m_tag = tag; }
    View* viewWithTag(long tag);
    // The layer's corner radius rounds the background; with clipsToBounds (the layer's
    // masksToBounds) the content and the subviews are cut to the rounded bounds too.
    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius);
    bool clipsToBounds() const { return m_clipsToBounds; }
    void setClipsToBounds(bool clips);
    // The layer's border: `width` points inside the bounds, over the content and the subviews; none
    // at 0 (the default), black until set.
    double borderWidth() const { return m_borderWidth; }
    void setBorderWidth(double width);
    const Color& borderColor() const { return m_borderColor; }
    void setBorderColor(const Color& color);
    // The platform's pattern colour: the image repeated from the bounds' top left corner, over
    // the background colour and under the content.
    const std::shared_ptr<Image>& backgroundPattern() const { return m_backgroundPattern; }
    void setBackgroundPattern(std::shared_ptr<Image> pattern);
    // The bounds' origin: where the subviews' coordinates start (a scroll view's content offset).
    virtual Point boundsOrigin() const { return {0, 0}; }

    // What a view dump shows of the content (views with images and texts say).
    virtual std::optional<std::string> dumpImage() const { return std::nullopt; }
    virtual std::optional<std::string> dumpText() const { return std::nullopt; }

protected:
    virtual Window* asWindow() const { return nullptr; }

private:
    friend class ViewController;
    friend class Compositor;
    friend struct ViewAnimations;
    // What the compositor keeps of a drawing: its texture, of the share group `generation`.
    struct Drawing {
        unsigned texture = 0;
        unsigned generation = 0;
        int width = 0, height = 0;
    };
    void autoresize(Size oldSuperSize, Size newSuperSize);
    void movedToWindow(Window* before);
    // Between this view's coordinates and its superview's (before the superview's bounds
    // origin); none from a layer scaled flat.
    Point toSuperview(Point point) const;
    std::optional<Point> fromSuperview(Point point) const;
    Point toWindow(Point point) const;
    Point fromWindow(Point point) const;

    Rect m_frame;
    View* m_superview = nullptr;
    std::vector<std::shared_ptr<View>> m_subviews;
    ViewController* m_viewController = nullptr;
    std::optional<Color> m_backgroundColor;
    LayerTransform m_layerTransform;
    std::unique_ptr<ViewAnimations> m_animations;  // made by the first animation
    Drawing m_drawing;
    std::shared_ptr<Image> m_backgroundPattern;
    long m_tag = 0;
    double m_cornerRadius = 0;
    double m_borderWidth = 0;
    Color m_borderColor;
    bool m_clipsToBounds = false;
    bool m_needsDisplay = true;
    double m_alpha = 1;
    double m_contentScaleFactor = 1;
    unsigned m_autoresizingMask = kAutoresizingNone;
    bool m_hidden = false;
    bool m_userInteractionEnabled = true;
    bool m_multipleTouchEnabled = false;
    bool m_autoresizesSubviews = true;
};

}  // namespace plat::ui
