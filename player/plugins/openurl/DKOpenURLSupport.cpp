#include "player/plugins/openurl/DKOpenURLSupport.h"

#include "platform/foundation/Log.h"
#include "platform/ui/Application.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/controller/DKGameViewController.h"

DKOpenURLSupport::DKOpenURLSupport(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController), m_page(std::make_shared<DKOpenURLSupportController>()) {
    m_page->setDelegate(this);
}

DKOpenURLSupport::~DKOpenURLSupport() {
    m_page->setDelegate(nullptr);
}

void DKOpenURLSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKOpenURLSupport>(), gameViewController(), &DKOpenURLSupport::openURL, "openURL");
}

void DKOpenURLSupport::openURL(DKGameViewController* controller, std::optional<std::string> url,
                               bool externalBrowser) {
    if (!url) {
        plat::foundation::log("DKOpenURLSupport: no URL to open");
        return;
    }
    plat::ui::Application* app = plat::ui::Application::shared();
    if (externalBrowser) {
        // The opener refuses, traces and logs what it must not open.
        if (app) app->openURL(*url);
        return;
    }
    if (!plat::ui::isAbsoluteURL(*url)) {
        plat::foundation::log("DKOpenURLSupport: not an absolute URL: \"%s\"", url->c_str());
        return;
    }
    if (m_pageUp) {
        m_page->webView().load(*url);
        return;
    }
    if (!controller) return;
    if (const auto& gameView = controller->view()) m_page->view()->setFrame(gameView->frame());
    m_page->webView().load(*url);
    controller->presentViewController(m_page, true);
    if (!m_page->presentingViewController()) {
        m_page->webView().load(plat::ui::kBlankPage);
        return;
    }
    m_page->webView().setScalesPageToFit(true);
    m_pageUp = true;
    pauseGame(true);
}

void DKOpenURLSupport::openURLBrowserWasDismissed(DKOpenURLSupportController&) {
    if (!m_pageUp) return;
    m_pageUp = false;
    resumeGame();
    m_page->dismissViewController(true);
    m_page->webView().load(plat::ui::kBlankPage);
}
