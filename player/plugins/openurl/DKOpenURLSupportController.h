// The in-application web page: a web view under a bar with the close control.
#pragma once

#include <memory>

#include "platform/ui/WebView.h"
#include "player/plugins/DKPluginViewController.h"

class DKOpenURLSupportController;

class DKOpenURLSupportControllerDelegate {
public:
    virtual ~DKOpenURLSupportControllerDelegate() = default;
    virtual void openURLBrowserWasDismissed(DKOpenURLSupportController&) = 0;
};

// Made with std::make_shared.
class DKOpenURLSupportController : public DKPluginViewController {
public:
    const char* className() const override { return "DKOpenURLSupportController"; }

    // Not owned: the delegate clears itself before it goes.
    DKOpenURLSupportControllerDelegate* delegate() const { return m_delegate; }
    void setDelegate(DKOpenURLSupportControllerDelegate* delegate) { m_delegate = delegate; }

    // The page's web view; the view is loaded for it.
    plat::ui::WebView& webView();
    // The close control: tells the delegate.
    void close();

    void loadView() override;

private:
    DKOpenURLSupportControllerDelegate* m_delegate = nullptr;
    std::shared_ptr<plat::ui::WebView> m_webView;
};
