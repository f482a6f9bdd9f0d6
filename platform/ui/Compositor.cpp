#include "platform/ui/Compositor.h"

#include <GLES2/gl2.h>
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "platform/gl/DisplayLink.h"
#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewAnimations.h"
#include "platform/ui/Window.h"

namespace plat::ui {

namespace {

// Main thread only, as views are.
bool g_changed = true;
struct Orphan {
    unsigned texture;
    unsigned generation;
};
// Never destroyed: a view may go during the process's exit.
std::vector<Orphan>& g_orphans = *new std::vector<Orphan>;

// x' = m[0] x + m[2] y + m[4], y' = m[1] x + m[3] y + m[5].
using Affine = std::array<double, 6>;

// `a` after `b`.
Affine operator*(const Affine& a, const Affine& b) {
    return {a[0] * b[0] + a[2] * b[1], a[1] * b[0] + a[3] * b[1], a[0] * b[2] + a[2] * b[3],
            a[1] * b[2] + a[3] * b[3], a[0] * b[4] + a[2] * b[5] + a[4], a[1] * b[4] + a[3] * b[5] + a[5]};
}
Affine translation(double x, double y) {
    return {1, 0, 0, 1, x, y};
}
// Clockwise on screen (y grows downward).
Affine rotation(double radians) {
    const double c = std::cos(radians), s = std::sin(radians);
    return {c, s, -s, c, 0, 0};
}
Affine scaling(double x, double y) {
    return {x, 0, 0, y, 0, 0};
}

// Interface points to the glass's points, the interface turned `turns` quarters clockwise.
Affine turn(int turns, double width, double height) {
    switch (turns) {
        case 1: return {0, 1, -1, 0, height, 0};
        case 2: return {-1, 0, 0, -1, width, height};
        case 3: return {0, -1, 1, 0, 0, width};
        default: return translation(0, 0);
    }
}

// A view's own points to clip space, its frame and layer transform under `outer`.
Affine placed(const double* outer, const View& view) {
    const Rect frame = view.presentationFrame();
    const LayerTransform t = view.presentationTransform();
    Affine parent;
    std::copy(outer, outer + 6, parent.begin());
    return parent * translation(frame.x + frame.width / 2 + t.tx, frame.y + frame.height / 2 + t.ty) *
           rotation(t.rotation) * scaling(t.scaleX, t.scaleY) * translation(-frame.width / 2, -frame.height / 2);
}

const char* const kVertexShader = R"(
attribute vec2 a_position;
attribute vec2 a_uv;
varying vec2 v_uv;
void main() {
    v_uv = a_uv;
    gl_Position = vec4(a_position, 0.0, 1.0);
}
)";

// Everything is premultiplied: a tint of the opacity (times a solid colour on the white texture).
// Cairo's pixels are BGRA in memory; a GL layer shows opaque, whatever its alpha.
const char* const kFragmentShader = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
varying vec2 v_uv;
uniform sampler2D u_texture;
uniform vec4 u_color;
uniform float u_swap;
uniform float u_opaque;
uniform vec4 u_round[2];
uniform float u_radius[2];
float cover(vec4 rect, float radius) {
    if (radius <= 0.0) return 1.0;
    vec2 p = gl_FragCoord.xy;
    vec2 c = clamp(p, rect.xy + radius, rect.zw - radius);
    return clamp(radius + 0.5 - length(p - c), 0.0, 1.0);
}
void main() {
    vec4 t = texture2D(u_texture, v_uv);
    t = mix(t, t.bgra, u_swap);
    t.a = max(t.a, u_opaque);
    gl_FragColor = t * u_color * cover(u_round[0], u_radius[0]) * cover(u_round[1], u_radius[1]);
}
)";

// A GL layer shown whole and opaque: its colours as they are, alpha 1 (what the shader above
// gives it at full opacity without a rounded cut), at a fraction of the per-pixel work.
const char* const kCopyShader = R"(
precision mediump float;
varying vec2 v_uv;
uniform sampler2D u_texture;
void main() {
    gl_FragColor = vec4(texture2D(u_texture, v_uv).rgb, 1.0);
}
)";

GLuint compile(GLenum kind, const char* source) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

}  // namespace

// The program and the white texture, made in the share group once per generation of it.
struct Compositor::Resources {
    unsigned generation = 0;
    bool made = false;
    GLuint program = 0, copy = 0, white = 0;
    GLint position = -1, uv = -1, texture = -1, color = -1, swap = -1, opaque = -1, round = -1, radius = -1;
    GLint maxTextureSize = 0;

    void make(unsigned groupGeneration) {
        generation = groupGeneration;
        made = true;
        GLuint vertex = compile(GL_VERTEX_SHADER, kVertexShader);
        // Both programs read the same attribute arrays.
        auto link = [vertex](const char* fragmentSource) {
            const GLuint made = glCreateProgram();
            const GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentSource);
            glAttachShader(made, vertex);
            glAttachShader(made, fragment);
            glBindAttribLocation(made, 0, "a_position");
            glBindAttribLocation(made, 1, "a_uv");
            glLinkProgram(made);
            glDeleteShader(fragment);
            return made;
        };
        program = link(kFragmentShader);
        copy = link(kCopyShader);
        glDeleteShader(vertex);
        glUseProgram(copy);
        glUniform1i(glGetUniformLocation(copy, "u_texture"), 0);
        position = 0;
        uv = 1;
        texture = glGetUniformLocation(program, "u_texture");
        color = glGetUniformLocation(program, "u_color");
        swap = glGetUniformLocation(program, "u_swap");
        opaque = glGetUniformLocation(program, "u_opaque");
        round = glGetUniformLocation(program, "u_round[0]");
        radius = glGetUniformLocation(program, "u_radius[0]");
        const std::uint8_t whitePixel[4] = {255, 255, 255, 255};
        glGenTextures(1, &white);
        glBindTexture(GL_TEXTURE_2D, white);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, whitePixel);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    }
};

Compositor::Resources& Compositor::resources() {
    static Resources r;
    return r;
}

Compositor::Compositor(Application& app) : m_app(app) {}

Compositor::~Compositor() = default;

void Compositor::setNeedsCommit() {
    g_changed = true;
}

void Compositor::releaseTexture(unsigned texture, unsigned generation) {
    g_orphans.push_back({texture, generation});
}

void Compositor::setPresenter(Presenter* presenter) {
    m_presenter = presenter;
    m_refresh.invalidate();
    if (!presenter) {
        m_observer.remove();
        return;
    }
    g_changed = true;  // a new screen shows everything
    m_observer = m_app.runLoop().addTurnObserver([this] { turnEnded(); });
}

void Compositor::turnEnded() {
    if (!m_presenter) return;
    const std::uint64_t presents = gl::GLLayer::presentCount();
    const bool animating = ViewAnimations::runningCount() > 0;
    const double now = m_app.runLoop().now();
    if (!g_changed && presents == m_seenPresents) {
        // Animations alone draw at most once a refresh, however many turns there are.
        if (!animating || now - m_lastCommit < gl::DisplayLink::kRefreshPeriod / 2) {
            if (animating && !m_refresh.isValid())
                m_refresh = m_app.runLoop().addTimer(gl::DisplayLink::kRefreshPeriod, [] {});
            return;
        }
    }
    g_changed = false;
    m_seenPresents = presents;
    m_lastCommit = now;
    if (composite(*m_presenter)) ++m_commits;
    if (animating && !m_refresh.isValid())
        m_refresh = m_app.runLoop().addTimer(gl::DisplayLink::kRefreshPeriod, [] {});
}

bool Compositor::composite(Presenter& presenter, bool overlays) {
    gl::CurrentContextScope keep;
    Presenter::Target target;
    if (!presenter.beginFrame(&target)) return false;
    Resources& r = resources();
    const unsigned generation = gl::GLContext::groupGeneration();
    for (const Orphan& orphan : g_orphans)
        if (orphan.generation == generation) glDeleteTextures(1, &orphan.texture);
    g_orphans.clear();
    if (!r.made || r.generation != generation) r.make(generation);
    m_gl = &r;
    // The drawing state, set only for a frame that draws (a layer alone on screen is handed over).
    auto prepareToDraw = [&] {
        glViewport(0, 0, target.width, target.height);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glClearColor(0, 0, 0, 1);
        glEnable(GL_BLEND);
        m_blending = true;
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        glUseProgram(r.program);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glEnableVertexAttribArray(static_cast<GLuint>(r.position));
        glEnableVertexAttribArray(static_cast<GLuint>(r.uv));
        glActiveTexture(GL_TEXTURE0);
        glUniform1i(r.texture, 0);
    };
    m_targetWidth = target.width;
    m_targetHeight = target.height;
    m_clip = {};
    const bool framed = target.pictureWidth > 0 && target.pictureHeight > 0 &&
                        (target.pictureWidth != target.width || target.pictureHeight != target.height);
    const int pictureX = framed ? target.pictureX : 0, pictureY = framed ? target.pictureY : 0;
    const int pictureWidth = framed ? target.pictureWidth : target.width;
    const int pictureHeight = framed ? target.pictureHeight : target.height;
    if (framed) {
        // Nothing reaches the bars, whatever lies outside the interface's bounds.
        m_clip.scissor = true;
        const int box[4] = {pictureX, target.height - pictureY - pictureHeight, pictureWidth, pictureHeight};
        std::copy(box, box + 4, m_clip.box);
    }

    m_cover = {};
    if (target.width > 0 && target.height > 0) {
        const Rect interface = m_app.interfaceBounds();
        const int turns = interfaceQuarterTurns(m_app.interfaceOrientation(), target.orientation);
        const double glassWidth = turns % 2 ? interface.height : interface.width;
        const double glassHeight = turns % 2 ? interface.width : interface.height;
        const Affine toClip = {2.0 / target.width, 0, 0, -2.0 / target.height, -1, 1};
        const Affine base = toClip * translation(pictureX, pictureY) *
                            scaling(pictureWidth / glassWidth, pictureHeight / glassHeight) *
                            turn(turns, interface.width, interface.height);
        Window* window = m_app.keyWindow();
        const double picture[4] = {static_cast<double>(pictureX), static_cast<double>(pictureY),
                                   static_cast<double>(pictureWidth), static_cast<double>(pictureHeight)};
        if (window) m_cover = findCover(*window, base.data(), picture);
        if (gl::GLLayer* sole = framed || !window ? nullptr : soleLayer(*window); sole && presenter.showLayer(*sole)) {
            m_cover = {};
            m_gl = nullptr;
            return true;
        }
        prepareToDraw();
        if (!m_cover.view) {
            glClear(GL_COLOR_BUFFER_BIT);
        } else if (framed) {
            // Only the bars: the cover fills the picture.
            const int bars[4][4] = {{0, 0, pictureX, target.height},
                                    {pictureX + pictureWidth, 0, target.width - pictureX - pictureWidth, target.height},
                                    {pictureX, target.height - pictureY, pictureWidth, pictureY},
                                    {pictureX, 0, pictureWidth, target.height - pictureY - pictureHeight}};
            glEnable(GL_SCISSOR_TEST);
            for (const auto& bar : bars) {
                if (bar[2] <= 0 || bar[3] <= 0) continue;
                glScissor(bar[0], bar[1], bar[2], bar[3]);
                glClear(GL_COLOR_BUFFER_BIT);
            }
        }
        applyClip(m_clip);
        if (window) drawView(*window, base.data(), 1, 0);
        // A drawing may change the list: draw what there was.
        if (overlays) m_overlayWalk.assign(m_app.overlays().begin(), m_app.overlays().end());
        for (const std::shared_ptr<View>& overlay : m_overlayWalk) drawView(*overlay, base.data(), 1, 0);
        m_overlayWalk.clear();
    } else {
        prepareToDraw();
        glClear(GL_COLOR_BUFFER_BIT);
    }
    m_cover = {};
    glDisable(GL_SCISSOR_TEST);
    presenter.endFrame();
    m_gl = nullptr;
    return true;
}

void Compositor::drawView(View& view, const double* parent, double opacity, size_t depth) {
    if (view.isHidden()) return;
    opacity *= view.presentationAlpha();
    if (opacity <= 0) return;
    const Rect frame = view.presentationFrame();
    const Affine m = placed(parent, view);
    const float alpha = static_cast<float>(opacity);

    // A corner radius rounds what the view draws itself; clipping cuts its subviews too.
    const Clip around = m_clip;
    Clip own = around;
    const bool clipped = (view.cornerRadius() > 0 || view.clipsToBounds()) &&
                         clipFor(m.data(), view, around, view.clipsToBounds(), &own);
    if (clipped) applyClip(own);

    if (const auto& bg = view.backgroundColor(); bg && bg->a > 0 && !hidden(view, false)) {
        const float a = static_cast<float>(bg->a * opacity);
        const float color[4] = {static_cast<float>(bg->r) * a, static_cast<float>(bg->g) * a,
                                static_cast<float>(bg->b) * a, a};
        drawQuad(m.data(), frame.width, frame.height, m_gl->white, color, false, false, false);
    }
    if (clipped && !view.clipsToBounds()) applyClip(around);
    const float tint[4] = {alpha, alpha, alpha, alpha};
    if (gl::GLLayer* layer = view.glLayer(); layer && layer->hasContent() && layer->texture() && !hidden(view, true)) {
        layer->waitForContent();
        drawLayer(m.data(), frame.width, frame.height, *layer, tint);
    }
    if ((view.drawsContent() || view.backgroundPattern()) && !m_cover.view) {
        refreshDrawing(view);
        if (view.m_drawing.texture)
            drawQuad(m.data(), frame.width, frame.height, view.m_drawing.texture, tint, true, false, false);
    }
    // A drawing may change the tree: walk what there was. Deeper levels may grow m_walks, so the
    // list is reached by index.
    const Point origin = view.boundsOrigin();
    const Affine inner = m * translation(-origin.x, -origin.y);
    if (m_walks.size() <= depth) m_walks.resize(depth + 1);
    m_walks[depth].assign(view.subviews().begin(), view.subviews().end());
    for (size_t i = 0; i < m_walks[depth].size(); ++i) drawView(*m_walks[depth][i], inner.data(), opacity, depth + 1);
    m_walks[depth].clear();
    if (const Color& c = view.borderColor(); view.borderWidth() > 0 && c.a > 0 && !m_cover.view) {
        // Four strips inside the bounds, over the subviews.
        const double w = std::min({view.borderWidth(), frame.width / 2, frame.height / 2});
        const float a = static_cast<float>(c.a * opacity);
        const float color[4] = {static_cast<float>(c.r) * a, static_cast<float>(c.g) * a,
                                static_cast<float>(c.b) * a, a};
        const double strips[4][4] = {{0, 0, frame.width, w},
                                     {0, frame.height - w, frame.width, w},
                                     {0, w, w, frame.height - 2 * w},
                                     {frame.width - w, w, w, frame.height - 2 * w}};
        for (const auto& s : strips) {
            const Affine at = m * translation(s[0], s[1]);
            drawQuad(at.data(), s[2], s[3], m_gl->white, color, false, false, false);
        }
    }
    if (clipped && view.clipsToBounds()) applyClip(around);
}

bool Compositor::hidden(const View& view, bool layer) {
    if (!m_cover.view) return false;
    if (m_cover.view != &view || m_cover.layer != layer) return true;
    m_cover = {};  // reached: it and what follows show
    return false;
}

Compositor::Cover Compositor::findCover(const View& view, const double* parent, const double picture[4]) const {
    // A view less than opaque makes its whole subtree so; a clipping one is left to the walk.
    if (view.isHidden() || view.presentationAlpha() < 1 || view.clipsToBounds()) return {};
    const Rect frame = view.presentationFrame();
    const Affine m = placed(parent, view);
    Cover found;
    if (const auto& bg = view.backgroundColor();
        bg && bg->a >= 1 && view.cornerRadius() <= 0 && covers(m.data(), frame.width, frame.height, picture))
        found = {&view, false, {m[0], m[1], m[2], m[3], m[4], m[5]}};
    if (gl::GLLayer* layer = view.glLayer();
        layer && layer->hasContent() && layer->texture() && covers(m.data(), frame.width, frame.height, picture))
        found = {&view, true, {m[0], m[1], m[2], m[3], m[4], m[5]}};
    const Point origin = view.boundsOrigin();
    const Affine inner = m * translation(-origin.x, -origin.y);
    for (const std::shared_ptr<View>& subview : view.subviews())
        if (const Cover cover = findCover(*subview, inner.data(), picture); cover.view) found = cover;
    return found;
}

bool Compositor::drawsPastCover(const View& view, bool* passed, double opacity) const {
    if (view.isHidden()) return false;
    opacity *= view.presentationAlpha();
    if (opacity <= 0) return false;
    if (const auto& bg = view.backgroundColor(); *passed && bg && bg->a > 0) return true;
    if (gl::GLLayer* layer = view.glLayer(); layer && layer->hasContent() && layer->texture()) {
        if (*passed) return true;
        if (&view == m_cover.view && m_cover.layer) *passed = true;
    }
    if (*passed && (view.drawsContent() || view.backgroundPattern())) return true;
    for (const std::shared_ptr<View>& subview : view.subviews())
        if (drawsPastCover(*subview, passed, opacity)) return true;
    return *passed && view.borderWidth() > 0 && view.borderColor().a > 0;
}

gl::GLLayer* Compositor::soleLayer(const View& window) const {
    if (!m_cover.view || !m_cover.layer || m_cover.view->cornerRadius() > 0) return nullptr;
    gl::GLLayer* layer = m_cover.view->glLayer();
    const double* m = m_cover.matrix;
    // Upright (the clip space's y runs up), from the target's top left, texel for pixel.
    if (std::abs(m[1]) > 1e-9 || std::abs(m[2]) > 1e-9 || m[0] <= 0 || m[3] >= 0) return nullptr;
    const Rect frame = m_cover.view->presentationFrame();
    auto near = [](double a, double b) { return std::abs(a - b) < 1e-6; };
    if (!near((m[4] + 1) / 2 * m_targetWidth, 0) || !near((1 - m[5]) / 2 * m_targetHeight, 0) ||
        layer->width() != m_targetWidth || layer->height() != m_targetHeight ||
        !near(m[0] * frame.width / 2 * m_targetWidth, m_targetWidth) ||
        !near(-m[3] * frame.height / 2 * m_targetHeight, m_targetHeight))
        return nullptr;
    bool passed = false;
    if (drawsPastCover(window, &passed, 1) || !passed) return nullptr;
    for (const std::shared_ptr<View>& overlay : m_app.overlays())
        if (drawsPastCover(*overlay, &passed, 1)) return nullptr;
    return layer;
}

bool Compositor::covers(const double* matrix, double width, double height, const double picture[4]) const {
    const bool straight = std::abs(matrix[1]) < 1e-9 && std::abs(matrix[2]) < 1e-9;
    const bool turned = std::abs(matrix[0]) < 1e-9 && std::abs(matrix[3]) < 1e-9;
    if (!straight && !turned) return false;
    // Pixels from the target's top left.
    auto pixel = [&](double x, double y) {
        const double cx = matrix[0] * x + matrix[2] * y + matrix[4];
        const double cy = matrix[1] * x + matrix[3] * y + matrix[5];
        return std::array<double, 2>{(cx + 1) / 2 * m_targetWidth, (1 - cy) / 2 * m_targetHeight};
    };
    const auto a = pixel(0, 0), c = pixel(width, height);
    constexpr double kSlack = 1e-3;
    return std::min(a[0], c[0]) <= picture[0] + kSlack && std::max(a[0], c[0]) >= picture[0] + picture[2] - kSlack &&
           std::min(a[1], c[1]) <= picture[1] + kSlack && std::max(a[1], c[1]) >= picture[1] + picture[3] - kSlack;
}

bool Compositor::clipFor(const double* matrix, const View& view, const Clip& outer, bool cutChildren,
                         Clip* clip) const {
    // Only quarter turns keep the bounds a box of the target's pixels.
    const bool straight = std::abs(matrix[1]) < 1e-9 && std::abs(matrix[2]) < 1e-9;
    const bool turned = std::abs(matrix[0]) < 1e-9 && std::abs(matrix[3]) < 1e-9;
    if (!straight && !turned) return false;
    const Rect b = view.bounds();
    auto pixel = [&](double x, double y) {
        const double cx = matrix[0] * x + matrix[2] * y + matrix[4];
        const double cy = matrix[1] * x + matrix[3] * y + matrix[5];
        return std::array<double, 2>{(cx + 1) / 2 * m_targetWidth, (cy + 1) / 2 * m_targetHeight};
    };
    const auto a = pixel(0, 0), c = pixel(b.width, b.height);
    const double x0 = std::min(a[0], c[0]), x1 = std::max(a[0], c[0]);
    const double y0 = std::min(a[1], c[1]), y1 = std::max(a[1], c[1]);
    *clip = outer;
    if (view.cornerRadius() > 0) {
        const double scale = straight ? std::abs(matrix[0]) / 2 * m_targetWidth : std::abs(matrix[1]) / 2 * m_targetHeight;
        std::copy(clip->rect[0], clip->rect[0] + 4, clip->rect[1]);
        clip->radius[1] = clip->radius[0];
        const float rect[4] = {static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1),
                               static_cast<float>(y1)};
        std::copy(rect, rect + 4, clip->rect[0]);
        clip->radius[0] =
            static_cast<float>(std::min({view.cornerRadius() * scale, (x1 - x0) / 2, (y1 - y0) / 2}));
    }
    if (cutChildren) {
        int box[4] = {static_cast<int>(std::floor(x0 + 0.5)), static_cast<int>(std::floor(y0 + 0.5)), 0, 0};
        box[2] = std::max(0, static_cast<int>(std::floor(x1 + 0.5)) - box[0]);
        box[3] = std::max(0, static_cast<int>(std::floor(y1 + 0.5)) - box[1]);
        if (outer.scissor) {
            const int left = std::max(box[0], outer.box[0]), top = std::max(box[1], outer.box[1]);
            const int right = std::min(box[0] + box[2], outer.box[0] + outer.box[2]);
            const int bottom = std::min(box[1] + box[3], outer.box[1] + outer.box[3]);
            box[0] = left, box[1] = top, box[2] = std::max(0, right - left), box[3] = std::max(0, bottom - top);
        }
        clip->scissor = true;
        std::copy(box, box + 4, clip->box);
    }
    return true;
}

void Compositor::applyClip(const Clip& clip) {
    m_clip = clip;
    if (clip.scissor) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(clip.box[0], clip.box[1], clip.box[2], clip.box[3]);
    } else {
        glDisable(GL_SCISSOR_TEST);
    }
    glUniform4fv(m_gl->round, 2, &clip.rect[0][0]);
    glUniform1fv(m_gl->radius, 2, clip.radius);
}

void Compositor::drawQuad(const double* matrix, double width, double height, unsigned texture, const float* color,
                          bool swapRedBlue, bool opaque, bool flipped, bool copy) {
    const double corners[4][2] = {{0, 0}, {0, height}, {width, 0}, {width, height}};
    float vertices[4][4];
    for (int i = 0; i < 4; ++i) {
        const double x = corners[i][0], y = corners[i][1];
        vertices[i][0] = static_cast<float>(matrix[0] * x + matrix[2] * y + matrix[4]);
        vertices[i][1] = static_cast<float>(matrix[1] * x + matrix[3] * y + matrix[5]);
        vertices[i][2] = x > 0 ? 1.0f : 0.0f;
        // GL layers keep their bottom row first, drawings their top row.
        vertices[i][3] = (y > 0) != flipped ? 1.0f : 0.0f;
    }
    const Resources& r = *m_gl;
    glVertexAttribPointer(static_cast<GLuint>(r.position), 2, GL_FLOAT, GL_FALSE, sizeof vertices[0], &vertices[0][0]);
    glVertexAttribPointer(static_cast<GLuint>(r.uv), 2, GL_FLOAT, GL_FALSE, sizeof vertices[0], &vertices[0][2]);
    // Opaque everywhere (a solid colour or a GL layer at full opacity, no rounded cut): written, not
    // blended.
    const bool solid = color[3] >= 1 && (opaque || texture == r.white) && m_clip.radius[0] <= 0 &&
                       m_clip.radius[1] <= 0;
    if (solid == m_blending) {
        m_blending = !solid;
        if (m_blending)
            glEnable(GL_BLEND);
        else
            glDisable(GL_BLEND);
    }
    glBindTexture(GL_TEXTURE_2D, texture);
    if (!copy) {
        glUniform4fv(r.color, 1, color);
        glUniform1f(r.swap, swapRedBlue ? 1.0f : 0.0f);
        glUniform1f(r.opaque, opaque ? 1.0f : 0.0f);
    }
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

void Compositor::drawLayer(const double* matrix, double width, double height, gl::GLLayer& layer,
                           const float* tint) {
    // Shown texel for pixel (straight or by quarter turns, whole pixels), the picture is the
    // layer's own: each pixel takes its texel as it is.
    const bool straight = std::abs(matrix[1]) < 1e-9 && std::abs(matrix[2]) < 1e-9;
    const bool turned = std::abs(matrix[0]) < 1e-9 && std::abs(matrix[3]) < 1e-9;
    bool exact = false;
    if (straight || turned) {
        const double x0 = (matrix[4] + 1) / 2 * m_targetWidth, y0 = (1 - matrix[5]) / 2 * m_targetHeight;
        const double across = std::abs(straight ? matrix[0] : matrix[1]) * width / 2 * (straight ? m_targetWidth : m_targetHeight);
        const double down = std::abs(straight ? matrix[3] : matrix[2]) * height / 2 * (straight ? m_targetHeight : m_targetWidth);
        auto whole = [](double v) { return std::abs(v - std::round(v)) < 1e-6; };
        exact = whole(x0) && whole(y0) && std::abs(across - layer.width()) < 1e-6 && std::abs(down - layer.height()) < 1e-6;
    }
    const bool copy = exact && tint[3] >= 1 && m_clip.radius[0] <= 0 && m_clip.radius[1] <= 0;
    const GLint filter = exact ? GL_NEAREST : GL_LINEAR;
    glBindTexture(GL_TEXTURE_2D, layer.texture());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    if (copy) glUseProgram(m_gl->copy);
    drawQuad(matrix, width, height, layer.texture(), tint, false, true, true, copy);
    if (copy) glUseProgram(m_gl->program);
}

void Compositor::refreshDrawing(View& view) {
    View::Drawing& d = view.m_drawing;
    const unsigned generation = m_gl->generation;
    const bool kept = d.texture && d.generation == generation;
    const Size size = view.bounds().size();
    const double scale = sys::Screen::main().scale();
    const int width = static_cast<int>(std::ceil(size.width * scale - 1e-9));
    const int height = static_cast<int>(std::ceil(size.height * scale - 1e-9));
    if (width <= 0 || height <= 0 || width > m_gl->maxTextureSize || height > m_gl->maxTextureSize) {
        if (kept) glDeleteTextures(1, &d.texture);
        d = {};
        return;
    }
    if (kept && !view.m_needsDisplay && d.width == width && d.height == height) return;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, width / size.width, height / size.height);
    view.m_needsDisplay = false;  // a drawing that marks the view again is drawn again next time
    if (const auto& pattern = view.backgroundPattern(); pattern && pattern->pixelWidth() > 0) {
        cairo_save(cr);
        cairo_scale(cr, 1 / pattern->scale(), 1 / pattern->scale());
        cairo_set_source_surface(cr, pattern->surface(), 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    view.draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    // Cairo aligns rows to 4 bytes, so ARGB32 rows are packed, as GL ES 2.0 (no row length) needs.
    const unsigned char* data = cairo_image_surface_get_data(surface);

    if (!kept) {
        d = {};
        glGenTextures(1, &d.texture);
        d.generation = generation;
        glBindTexture(GL_TEXTURE_2D, d.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    } else {
        glBindTexture(GL_TEXTURE_2D, d.texture);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (d.width == width && d.height == height)
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, data);
    else
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, data);
    d.width = width;
    d.height = height;
    cairo_surface_destroy(surface);
}

}  // namespace plat::ui
