// A content unit for one placement ("game_launch", "more_games"), shown in the request's overlay.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Error.h"

namespace plat::ui {
class View;
}

class KSPublisherContentRequest;

// Every operation optional: the defaults do nothing.
class KSPublisherContentRequestDelegate {
public:
    virtual ~KSPublisherContentRequestDelegate() = default;
    virtual void requestContentDidDisplay(KSPublisherContentRequest&) {}
    virtual void requestContentDidDismiss(KSPublisherContentRequest&, int /*dismissType*/) {}
    // No display follows.
    virtual void requestDidFail(KSPublisherContentRequest&, const plat::foundation::Error&) {}
};

class KSPublisherContentRequest : public std::enable_shared_from_this<KSPublisherContentRequest> {
    struct Token {};

public:
    // The request still pending for the same token, secret and placement, else a new one; the
    // delegate (not retained: it clears itself before it goes) is set either way.
    static std::shared_ptr<KSPublisherContentRequest> requestForApp(const std::string& token,
                                                                    const std::string& secret,
                                                                    const std::string& placement,
                                                                    KSPublisherContentRequestDelegate* delegate);
    KSPublisherContentRequest(Token, std::string token, std::string secret, std::string placement);
    ~KSPublisherContentRequest();

    const std::string& placement() const { return m_placement; }
    KSPublisherContentRequestDelegate* delegate() const { return m_delegate; }
    void setDelegate(KSPublisherContentRequestDelegate* delegate) { m_delegate = delegate; }
    void setShowsOverlayImmediately(bool on) { m_showsOverlayImmediately = on; }
    // The full-screen overlay (screen bounds, black at alpha 0.5), made on first use.
    const std::shared_ptr<plat::ui::View>& overlayWindow();

    // Pending until its outcome has been reported; a second send of a pending request does
    // nothing. Without the container's Library/LocalServices/contentads.plist it fails on the next
    // turn. With it, the overlay goes on screen at once when asked to, and the input script plays
    // the client (on the request sent last that is still pending): "content.display",
    // "content.dismiss" (the overlay goes), "content.fail \"TEXT\"" (an error described so).
    void send();

private:
    static void registerServiceCommands();
    void showOverlay();
    // No longer pending; the overlay goes.
    void finish();

    bool m_scripted = false;
    bool m_displayed = false;
    std::string m_token;
    std::string m_secret;
    std::string m_placement;
    KSPublisherContentRequestDelegate* m_delegate = nullptr;
    bool m_showsOverlayImmediately = false;
    std::shared_ptr<plat::ui::View> m_overlay;
};
