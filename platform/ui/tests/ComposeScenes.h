// Screens the player shows, as view trees over a game's GL layer: the pictures the compositor must
// give byte for byte whichever way it draws them (kept as PNGs under data/compose-<name>.png).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/gl/GLContext.h"
#include "platform/gl/GLLayer.h"
#include "platform/ui/View.h"

namespace plat::ui {
class Window;
}

namespace dktest {

// A game's view: a GL layer of its own context holding a picture of many colours and alphas (a
// game's frame buffer keeps whatever alpha its blending left), drawn and presented once.
class PatternGLView : public plat::ui::View {
public:
    explicit PatternGLView(const plat::ui::Rect& frame);
    ~PatternGLView() override;
    plat::gl::GLLayer* glLayer() const override { return &m_layer; }

private:
    std::unique_ptr<plat::gl::GLContext> m_context;
    mutable plat::gl::GLLayer m_layer;
    unsigned m_framebuffer = 0;
};

// The scenes, on the 320 x 480 point phone: "game" (the game alone, as it plays), "fading" (the game
// view half faded in), "startup" (the start-up screen's picture over the game, which waits at
// opacity 0, and the loading box), "banner" (an ad banner over the bottom of the game), "keyboard"
// (an opaque keyboard over the game's lower part), "cropped" (a game view wider than the screen).
const std::vector<std::string>& composeSceneNames();
// Puts scene `name` into `window` (black, as the player's is); its pictures are written in `dir`.
void buildComposeScene(const std::string& name, plat::ui::Window& window, const std::string& dir);
// The scene's expected picture.
std::string composeScenePicture(const std::string& name);

}  // namespace dktest
