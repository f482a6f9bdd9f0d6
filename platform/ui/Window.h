// The window: the root of the view tree, in interface points (its bounds turn with the interface).
#pragma once

#include <memory>

#include "platform/ui/View.h"

namespace plat::ui {

class ViewController;

class Window : public View {
public:
    Window() = default;
    explicit Window(const Rect& frame) : View(frame) {}
    ~Window() override;

    const char* className() const override { return "UIWindow"; }

    // The root controller's view goes into the window at once, over its bounds.
    ViewController* rootViewController() const { return m_root.get(); }
    void setRootViewController(std::shared_ptr<ViewController> controller);
    // The application's key window from now on, shown: the controller on screen appears.
    void makeKeyAndVisible();
    bool isKeyWindow() const;
    // Key and visible: controllers' views entering or leaving it appear or disappear.
    bool isShown() const { return m_shown && !isHidden(); }

    // The root, then each controller it presents in turn; the last is the top one.
    std::vector<ViewController*> controllerChain() const;
    // Controllers of the chain whose views are in this window, each given the window's bounds.
    void layOutControllerViews();

protected:
    Window* asWindow() const override { return const_cast<Window*>(this); }

private:
    std::shared_ptr<ViewController> m_root;
    bool m_shown = false;
};

}  // namespace plat::ui
