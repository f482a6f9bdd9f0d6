// View controllers: a lazily made view, appearance, modal presentation, orientation answers.
// Presenting is full screen: the covered view leaves the window, so it is neither laid out nor sent
// rotations until revealed; unless the presenter's style is current-context (3), which keeps its view
// in the window beneath (the interstitial wrapper, clear over the game).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/View.h"

namespace plat::ui {

// How a presented controller covers its presenter (the presenter's style decides): full screen,
// the covered view leaving the window, or over the current context, the covered view staying in
// the window beneath (seen wherever the presented view is clear).
inline constexpr int kModalPresentationFullScreen = 0;
inline constexpr int kModalPresentationCurrentContext = 3;

// Made with std::make_shared. A window owns its root controller, a controller the one it
// presents; the presented one knows its presenter only while presented.
class ViewController : public Responder, public std::enable_shared_from_this<ViewController> {
public:
    ViewController() = default;
    ~ViewController() override;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    virtual const char* className() const { return "UIViewController"; }

    // Made on first use: loadView, then viewDidLoad.
    const std::shared_ptr<View>& view();
    bool isViewLoaded() const { return m_view != nullptr; }
    void setView(std::shared_ptr<View> view);

    // A plain view over the interface's bounds, unless overridden (which then calls setView).
    virtual void loadView();
    virtual void viewDidLoad() {}
    // Called as the view enters or leaves a window that is key and visible.
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual void viewDidDisappear(bool /*animated*/) {}

    // Orientation answers. On system 6.0 and later: supportedInterfaceOrientations (all four on a
    // tablet, all but upside down on a phone, unless overridden) and shouldAutorotate; below it,
    // shouldAutorotateToInterfaceOrientation (portrait only, unless overridden).
    virtual unsigned supportedInterfaceOrientations() const;
    virtual bool shouldAutorotate() const { return true; }
    virtual bool shouldAutorotateToInterfaceOrientation(int orientation) const;
    // The status bar's orientation, unless overridden.
    virtual int preferredInterfaceOrientationForPresentation() const;
    // The application's interface orientation.
    int interfaceOrientation() const;
    virtual void willRotateToInterfaceOrientation(int /*orientation*/, double /*duration*/) {}
    virtual void didRotateFromInterfaceOrientation(int /*fromOrientation*/) {}

    virtual void didReceiveMemoryWarning() {}

    // The presented view takes the window's bounds; this controller's view leaves the window until
    // the dismissal unless presenting over the current context. Refused (logged) when this view is not in a window, when this
    // controller already presents one, or when `controller` is presented already. Nothing animates
    // yet: `animated` reaches the appearance calls, and `completion` runs before the return.
    void presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                               std::function<void()> completion = {});
    // Dismisses what this controller presents (with everything that one presents), or, when it
    // presents nothing, asks its presenter to dismiss it.
    void dismissViewController(bool animated, std::function<void()> completion = {});
    // Told of each presentation that goes ahead, before its appearance calls: for tools that
    // print what comes on screen. One listener; an empty function removes it.
    static void setPresentationListener(std::function<void(const ViewController& presented)> listener);
    int modalPresentationStyle() const { return m_modalPresentationStyle; }
    void setModalPresentationStyle(int style) { m_modalPresentationStyle = style; }
    ViewController* presentedViewController() const { return m_presented.get(); }
    ViewController* presentingViewController() const { return m_presenting; }

    // Child controllers: the parent holds them; a child knows its parent while it is one. Their
    // views go where the parent puts them (the platform adds nothing to the tree).
    void addChildViewController(std::shared_ptr<ViewController> child);
    void removeFromParentViewController();
    ViewController* parentViewController() const { return m_parent; }
    const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const { return m_children; }

    Responder* nextResponder() const override;

private:
    friend class Window;
    friend class Application;
    enum class Appearance { Gone, Appearing, Shown, Disappearing };
    void beginAppearance(bool appearing, bool animated);
    void endAppearance(bool animated);

    std::shared_ptr<View> m_view;
    std::shared_ptr<ViewController> m_presented;
    ViewController* m_presenting = nullptr;
    std::vector<std::shared_ptr<ViewController>> m_children;
    ViewController* m_parent = nullptr;
    Appearance m_appearance = Appearance::Gone;
    int m_modalPresentationStyle = kModalPresentationFullScreen;
};

}  // namespace plat::ui
