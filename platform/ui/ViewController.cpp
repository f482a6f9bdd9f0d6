#include "platform/ui/ViewController.h"

#include <algorithm>

#include "platform/foundation/Log.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/UITrace.h"
#include "platform/ui/Window.h"

namespace plat::ui {

namespace {
std::function<void(const ViewController&)>& presentationListener() {
    static std::function<void(const ViewController&)> listener;
    return listener;
}
}  // namespace

void ViewController::setPresentationListener(std::function<void(const ViewController&)> listener) {
    presentationListener() = std::move(listener);
}

ViewController::~ViewController() {
    if (m_view && m_view->m_viewController == this) m_view->m_viewController = nullptr;
    if (m_presented && m_presented->m_presenting == this) m_presented->m_presenting = nullptr;
    for (const auto& child : m_children) child->m_parent = nullptr;
}

void ViewController::addChildViewController(std::shared_ptr<ViewController> child) {
    if (!child || child.get() == this || child->m_parent == this) return;
    child->removeFromParentViewController();
    child->m_parent = this;
    m_children.push_back(std::move(child));
}

void ViewController::removeFromParentViewController() {
    ViewController* parent = m_parent;
    if (!parent) return;
    m_parent = nullptr;
    // Held until the return: the parent's reference may be the last.
    std::shared_ptr<ViewController> keep = shared_from_this();
    std::erase_if(parent->m_children, [this](const auto& c) { return c.get() == this; });
}

const std::shared_ptr<View>& ViewController::view() {
    if (!m_view) {
        loadView();
        if (!m_view) ViewController::loadView();
        viewDidLoad();
    }
    return m_view;
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (m_view && m_view->m_viewController == this) m_view->m_viewController = nullptr;
    m_view = std::move(view);
    if (m_view) m_view->m_viewController = this;
}

void ViewController::loadView() {
    Application* app = Application::shared();
    setView(std::make_shared<View>(app ? app->interfaceBounds() : interfaceBounds(kInterfaceOrientationPortrait)));
}

unsigned ViewController::supportedInterfaceOrientations() const {
    return sys::Device::current().userInterfaceIdiom() == sys::kUserInterfaceIdiomPad
               ? kInterfaceOrientationMaskAll
               : kInterfaceOrientationMaskAllButUpsideDown;
}

bool ViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
    return orientation == kInterfaceOrientationPortrait;
}

int ViewController::preferredInterfaceOrientationForPresentation() const {
    Application* app = Application::shared();
    return app ? app->statusBarOrientation() : kInterfaceOrientationPortrait;
}

int ViewController::interfaceOrientation() const {
    Application* app = Application::shared();
    return app ? app->interfaceOrientation() : kInterfaceOrientationPortrait;
}

Responder* ViewController::nextResponder() const {
    return m_view ? m_view->superview() : nullptr;
}

void ViewController::beginAppearance(bool appearing, bool animated) {
    if (appearing && (m_appearance == Appearance::Gone || m_appearance == Appearance::Disappearing)) {
        m_appearance = Appearance::Appearing;
        viewWillAppear(animated);
    } else if (!appearing && (m_appearance == Appearance::Shown || m_appearance == Appearance::Appearing)) {
        m_appearance = Appearance::Disappearing;
        viewWillDisappear(animated);
    }
}

void ViewController::endAppearance(bool animated) {
    if (m_appearance == Appearance::Appearing) {
        m_appearance = Appearance::Shown;
        viewDidAppear(animated);
    } else if (m_appearance == Appearance::Disappearing) {
        m_appearance = Appearance::Gone;
        viewDidDisappear(animated);
    }
}

void ViewController::presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                                           std::function<void()> completion) {
    Window* window = m_view ? m_view->window() : nullptr;
    if (!controller) return;
    if (!window || m_presented || controller->m_presenting || controller.get() == this) {
        foundation::log("Warning: Attempt to present %s on %s %s", controller->className(), className(),
                        window ? "while it is presenting or presented" : "whose view is not in the window hierarchy!");
        return;
    }
    auto keep = weak_from_this().lock();
    foundation::trace(kTraceUI, [&] { return std::string("present ") + controller->className(); });
    if (presentationListener()) presentationListener()(*controller);
    m_presented = controller;
    controller->m_presenting = this;
    const std::shared_ptr<View>& view = controller->view();
    view->setFrame(window->bounds());
    bool shown = window->isShown();
    if (shown) {
        beginAppearance(false, animated);
        controller->beginAppearance(true, animated);
    }
    window->addSubview(view);
    if (m_modalPresentationStyle != kModalPresentationCurrentContext) m_view->removeFromSuperview();
    if (Application* app = Application::shared()) app->orientForPresented(*controller);
    if (shown) {
        endAppearance(animated);
        controller->endAppearance(animated);
    }
    if (completion) completion();
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
    if (!m_presented) {
        if (m_presenting) m_presenting->dismissViewController(animated, std::move(completion));
        return;
    }
    auto keep = weak_from_this().lock();
    ViewController* top = m_presented.get();
    while (top->m_presented) top = top->m_presented.get();
    foundation::trace(kTraceUI, [&] { return std::string("dismiss ") + m_presented->className(); });

    Window* window = top->m_view ? top->m_view->window() : nullptr;
    bool shown = window && window->isShown();
    if (shown) {
        top->beginAppearance(false, animated);
        beginAppearance(true, animated);
    }
    if (window) {
        const auto& siblings = window->subviews();
        size_t index = static_cast<size_t>(std::find(siblings.begin(), siblings.end(), top->m_view) - siblings.begin());
        view()->setFrame(window->bounds());
        if (m_view->superview() != window) window->insertSubview(m_view, index);
        top->m_view->removeFromSuperview();
    }
    // The whole chain above goes; `chain` keeps it alive until the calls below are done.
    std::vector<std::shared_ptr<ViewController>> chain;
    for (auto c = m_presented; c; c = c->m_presented) chain.push_back(c);
    for (auto& c : chain) {
        c->m_presenting = nullptr;
        c->m_presented.reset();
    }
    m_presented.reset();
    if (window) {
        if (Application* app = Application::shared()) app->orientForRevealed(*this);
    }
    if (shown) {
        top->endAppearance(animated);
        endAppearance(animated);
    }
    if (completion) completion();
}

}  // namespace plat::ui
