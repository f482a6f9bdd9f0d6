#include "platform/ui/Window.h"

#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"

namespace plat::ui {

Window::~Window() {
    if (Application* app = Application::shared()) app->windowGone(this);
}

std::vector<ViewController*> Window::controllerChain() const {
    std::vector<ViewController*> chain;
    for (ViewController* c = m_root.get(); c; c = c->presentedViewController()) chain.push_back(c);
    return chain;
}

void Window::layOutControllerViews() {
    for (ViewController* c : controllerChain())
        if (c->isViewLoaded() && c->view()->window() == this) c->view()->setFrame(bounds());
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (controller == m_root) return;
    std::shared_ptr<ViewController> old = std::move(m_root);
    m_root = controller;
    bool shown = isShown();
    if (old && old->isViewLoaded() && old->view()->window() == this) {
        if (shown) old->beginAppearance(false, false);
        old->view()->removeFromSuperview();
        if (shown) old->endAppearance(false);
    }
    if (!controller) return;
    const std::shared_ptr<View>& view = controller->view();
    view->setFrame(bounds());
    if (shown) controller->beginAppearance(true, false);
    addSubview(view);
    if (shown) controller->endAppearance(false);
}

bool Window::isKeyWindow() const {
    Application* app = Application::shared();
    return app && app->keyWindow() == this;
}

void Window::makeKeyAndVisible() {
    if (Application* app = Application::shared()) app->setKeyWindow(this);
    setHidden(false);
    if (m_shown) return;
    m_shown = true;
    std::vector<ViewController*> onScreen;
    for (ViewController* c : controllerChain())
        if (c->isViewLoaded() && c->view()->window() == this) onScreen.push_back(c);
    for (ViewController* c : onScreen) c->beginAppearance(true, false);
    for (ViewController* c : onScreen) c->endAppearance(false);
}

}  // namespace plat::ui
