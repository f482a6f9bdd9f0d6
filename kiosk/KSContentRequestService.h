// The content unit of one placement ("game_launch", "more_games") as the player asks for it: the
// client's content request behind the few operations the player uses. Every send traces
// "svc kiosk content PLACEMENT". With the container's Library/LocalServices/contentads.plist a
// stand-in takes the client's place and the input script plays it.
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Error.h"

namespace plat::ui {
class View;
}

class KSContentRequestService;
class KSPublisherContentRequest;

// Every operation optional: the defaults do nothing.
class KSContentRequestServiceDelegate {
public:
    virtual ~KSContentRequestServiceDelegate() = default;
    virtual void requestContentDidDisplay(KSContentRequestService&) {}
    virtual void requestContentDidDismiss(KSContentRequestService&, int /*dismissType*/) {}
    // No display follows.
    virtual void requestDidFail(KSContentRequestService&, const plat::foundation::Error&) {}
};

class KSContentRequestService : public std::enable_shared_from_this<KSContentRequestService> {
    struct Token {};

public:
    // The request still pending for the same token, secret and placement, else a new one; the
    // delegate (not retained: it clears itself before it goes) is set either way.
    static std::shared_ptr<KSContentRequestService> requestForApp(const std::string& token,
                                                                  const std::string& secret,
                                                                  const std::string& placement,
                                                                  KSContentRequestServiceDelegate* delegate);
    KSContentRequestService(Token, std::string token, std::string secret, std::string placement);
    ~KSContentRequestService();

    const std::string& placement() const { return m_placement; }
    KSContentRequestServiceDelegate* delegate() const { return m_delegate; }
    void setDelegate(KSContentRequestServiceDelegate* delegate) { m_delegate = delegate; }
    void setShowsOverlayImmediately(bool on);
    // The full-screen overlay (screen bounds, black at alpha 0.5), made on first use.
    const std::shared_ptr<plat::ui::View>& overlayWindow();
    // The client's request behind this one; null for the stand-in.
    const std::shared_ptr<KSPublisherContentRequest>& client() const { return m_client; }

    // Pending until its outcome has been reported; a second send of a pending request does
    // nothing. The stand-in puts the overlay on screen at once when asked to, and the input script
    // plays it (on the request sent last that is still pending): "content.display",
    // "content.dismiss" (the overlay goes), "content.fail \"TEXT\"" (an error described so).
    void send();

private:
    class ClientDelegate;
    static void registerServiceCommands();
    void showOverlay();
    // No longer pending; the stand-in's overlay goes.
    void finish();
    void displayed();
    void dismissed(int type);
    void failed(const plat::foundation::Error& error);

    bool m_scripted = false;
    bool m_displayed = false;
    std::string m_token;
    std::string m_secret;
    std::string m_placement;
    KSContentRequestServiceDelegate* m_delegate = nullptr;
    bool m_showsOverlayImmediately = false;
    std::shared_ptr<plat::ui::View> m_overlay;
    std::shared_ptr<KSPublisherContentRequest> m_client;
    std::unique_ptr<ClientDelegate> m_clientDelegate;
};
