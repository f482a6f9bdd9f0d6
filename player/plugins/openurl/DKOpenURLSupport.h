// Opens a web address for the script ("openURL"): in the system's browser, or on a web page over
// the game, paused as a system pause while it shows.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/openurl/DKOpenURLSupportController.h"

class DKOpenURLSupport : public DKPluginSupport, private DKOpenURLSupportControllerDelegate {
public:
    explicit DKOpenURLSupport(DKGameViewController* gameViewController);
    ~DKOpenURLSupport() override;
    static const char* pluginIdentifier() { return "openUrl"; }

    // "openURL". A nil URL, or (for the page) text that is no absolute URL, does nothing but log.
    // External: the application's opener, no pause. Else the page over the game view; while it
    // shows, a new address loads in it, without a second presentation or pause.
    void openURL(DKGameViewController*, std::optional<std::string> url, bool externalBrowser);
    bool isPageUp() const { return m_pageUp; }
    DKOpenURLSupportController& webPageViewController() { return *m_page; }

protected:
    void registerActions(lua_State* L) override;

private:
    // Play, the page dismissed and blanked so the next one starts empty.
    void openURLBrowserWasDismissed(DKOpenURLSupportController&) override;

    std::shared_ptr<DKOpenURLSupportController> m_page;
    bool m_pageUp = false;
};
