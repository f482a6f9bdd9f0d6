// The content unit of one placement, asked of the content API and shown full screen: an overlay
// in the application's first window, content views stacked on it and a native close button. Its
// life runs through five states, only forwards, and ends in one outcome told to its delegate: a
// dismissal of one of four types, or a failure (a cancelled request tells nothing). Main thread.
//
// Each step of the states runs once. requestForApp hands back the live request for the same
// placement, token and secret; a preloaded one stays registered until a send shows its unit. The
// overlay goes into the key window (none headless) over its bounds, following the interface's
// turns; content views come from the pool with
// "ks://subcontent", "ks://reward", "ks://purchase" and "ks://closeButton" registered. The display
// is told once per request and the background notification observed once; a finished request
// reports nothing more, its pending subcontent requests cancelled. The 40 x 40 close button shows
// after 4 s of the run loop's clock unless the template answers first; flat and unknown
// orientations leave it where it is (it starts at the last upright orientation, portrait before
// any), at the user's top right as the window has it. "close_ping" is never pinged on this road: the request closes views with dismiss.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kiosk/KSAPIRequest.h"
#include "kiosk/KSContentView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Button.h"

class KSPublisherContentRequest;
class KSReward;
class KSPurchase;

inline constexpr const char* kKSContentUnitTriggeredDismiss = "KSPublisherContentUnitTriggeredDismiss";
inline constexpr const char* kKSNativeCloseButtonTriggeredDismiss =
    "KSPublisherNativeCloseButtonTriggeredDismiss";
inline constexpr const char* kKSApplicationBackgroundTriggeredDismiss =
    "KSPublisherApplicationBackgroundTriggeredDismiss";
inline constexpr const char* kKSNoContentTriggeredDismiss = "KSPublisherNoContentTriggeredDismiss";

// Every operation optional: the request calls only those whose bit responds() holds.
class KSPublisherContentRequestDelegate {
public:
    enum : unsigned {
        kWillGetContent = 1u << 0,
        kDidFinishLoading = 1u << 1,
        kDidGetContent = 1u << 2,
        kContentWillDisplay = 1u << 3,
        kContentDidDisplay = 1u << 4,
        kContentDidDismissWithType = 1u << 5,
        kContentDidDismiss = 1u << 6,
        kDidFail = 1u << 7,
        kContentDidFail = 1u << 8,
        kUnlockedReward = 1u << 9,
        kMakePurchase = 1u << 10,
        kBorderColor = 1u << 11,
        kCloseButtonImage = 1u << 12,
        kAll = (1u << 13) - 1,
    };
    virtual ~KSPublisherContentRequestDelegate() = default;
    virtual unsigned responds() const { return kAll; }
    virtual void requestWillGetContent(KSPublisherContentRequest&) {}
    virtual void requestDidFinishLoading(KSPublisherContentRequest&) {}
    virtual void requestDidGetContent(KSPublisherContentRequest&) {}
    virtual void requestContentWillDisplay(KSPublisherContentRequest&, const KSContent&) {}
    virtual void requestContentDidDisplay(KSPublisherContentRequest&, const KSContent&) {}
    virtual void requestContentDidDismissWithType(KSPublisherContentRequest&, const std::string& /*type*/) {}
    // Only when the operation above is not answered.
    virtual void requestContentDidDismiss(KSPublisherContentRequest&) {}
    virtual void requestDidFailWithError(KSPublisherContentRequest&, const plat::foundation::Error&) {}
    // The older form of a content view's failure; preferred when answered.
    virtual void requestContentDidFailWithError(KSPublisherContentRequest&, const plat::foundation::Error&) {}
    virtual void requestUnlockedReward(KSPublisherContentRequest&, const KSReward&) {}
    // The purchase is the delegate's to keep until it reports its resolution.
    virtual void requestMakePurchase(KSPublisherContentRequest&, std::shared_ptr<KSPurchase>) {}
    virtual std::optional<plat::ui::Color> requestBorderColorForContent(KSPublisherContentRequest&,
                                                                        const KSContent*) {
        return std::nullopt;
    }
    // `state` 0 normal, 1 highlighted; null: the built-in image.
    virtual std::shared_ptr<plat::ui::Image> requestCloseButtonImage(KSPublisherContentRequest&,
                                                                     int /*state*/, const KSContent*) {
        return nullptr;
    }
};

// The close button: its image, and the highlighted one while a touch is down on it.
class KSCloseButton : public plat::ui::Button {
public:
    using Button::Button;
    void setImages(std::shared_ptr<plat::ui::Image> normal, std::shared_ptr<plat::ui::Image> highlighted);
    void touchesBegan(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;
    void touchesEnded(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;
    void touchesCancelled(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;

private:
    std::shared_ptr<plat::ui::Image> m_normal;
    std::shared_ptr<plat::ui::Image> m_highlighted;
};

// The unit behind a template's "ks://subcontent": its address is the template's, unsigned.
class KSPublisherSubContentRequest : public KSAPIRequest {
public:
    using KSAPIRequest::KSAPIRequest;
    const char* className() const override { return "KSPublisherSubContentRequest"; }
    const std::string& URL() override { return m_address; }
    void setURLPath(std::string address) { m_address = std::move(address); }
    const std::optional<std::string>& callback() const { return m_callback; }
    void setCallback(std::optional<std::string> callback) { m_callback = std::move(callback); }
    // Not kept alive.
    std::shared_ptr<KSContentView> source() const { return m_source.lock(); }
    void setSource(const std::shared_ptr<KSContentView>& view) { m_source = view; }

private:
    std::string m_address;
    std::optional<std::string> m_callback;
    std::weak_ptr<KSContentView> m_source;
};

class KSPublisherContentRequest : public KSAPIRequest,
                                  private KSContentViewDelegate,
                                  private KSAPIRequestDelegate {
public:
    enum State { kMade = 0, kGettingContent = 1, kContentReady = 2, kDisplaying = 3, kDone = 4 };

    // The live request for the same placement, token and secret, now with `delegate`; else a new
    // one, registered. The delegate is not retained.
    static std::shared_ptr<KSPublisherContentRequest> requestForApp(
        const std::string& token, const std::string& secret, const std::string& placement,
        KSPublisherContentRequestDelegate* delegate);
    static std::shared_ptr<KSPublisherContentRequest> existingRequestForApp(const std::string& token,
                                                                            const std::string& secret,
                                                                            const std::string& placement);
    KSPublisherContentRequest(std::string token, std::string secret);
    ~KSPublisherContentRequest() override;

    const char* className() const override { return "KSPublisherContentRequest"; }
    const std::string& placement() const { return m_placement; }
    KSPublisherContentRequestDelegate* contentDelegate() const { return m_delegate; }
    void setContentDelegate(KSPublisherContentRequestDelegate* delegate) { m_delegate = delegate; }
    int state() const { return m_state; }
    int targetState() const { return m_targetState; }
    // Told (old, new) around each change of state: the key-value observation of "state".
    void setStateObserver(std::function<void(int, int)> observer) { m_stateObserver = std::move(observer); }
    bool animated() const { return m_animated; }
    void setAnimated(bool animated) { m_animated = animated; }
    bool showsOverlayImmediately() const { return m_showsOverlayImmediately; }
    void setShowsOverlayImmediately(bool on) { m_showsOverlayImmediately = on; }
    // Screen bounds, black at alpha 0.5; made on first use, the window's bounds once shown.
    const std::shared_ptr<plat::ui::View>& overlayWindow();
    const std::vector<std::shared_ptr<KSContentView>>& contentViews() const { return m_contentViews; }
    const std::shared_ptr<KSContent>& content() const { return m_content; }
    // Made on first use, hidden.
    const std::shared_ptr<KSCloseButton>& closeButton();

    void send() override;
    void preload();
    void cancel() override;
    void finish() override;

    // The two signature checks of the template's items.
    bool isValidReward(const KSJsonObject& item) const;
    bool isValidPurchase(const KSJsonObject& item) const;

    // The close button's centre and rotation for device orientation `o` (1-4), a status bar of `b`
    // points, the application frame's W x H and the top unit's frame for `o` (none: no unit shown).
    struct Placement {
        plat::sys::Point center;
        double rotation = 0;
    };
    static Placement closeButtonPlacement(int o, double b, double W, double H,
                                          const std::optional<plat::sys::Rect>& unitFrame);

protected:
    std::string urlPath() const override;
    KSJsonObject additionalParameters() const override;
    void didSucceedWithResponse(const KSJsonValue* response) override;
    void didFailWithError(const plat::foundation::Error& error) override;

private:
    // Forwards the body's arrival, the one request-delegate call of the base this class has.
    struct LoadingForward : KSAPIRequestDelegate {
        KSPublisherContentRequest* owner = nullptr;
        unsigned responds() const override { return kRespondsDidFinishLoading; }
        void requestDidFinishLoading(KSAPIRequest&) override;
    };

    bool setState(int state);
    bool answers(unsigned bit) const { return m_delegate && (m_delegate->responds() & bit); }
    void continueLoading();
    void getContent();
    void showContentIfReady();
    void pushContent(std::shared_ptr<KSContent> content);
    void removeContentView(KSContentView& view);
    void dismissAll();
    void reportDismissal(const char* type);
    void dismissFromButton();
    void dismissToBackground();
    void showOverlay();
    void hideOverlay();
    void placeCloseButton();
    void hideCloseButton();

    // KSContentViewDelegate
    void contentViewDidLoad(KSContentView& view) override;
    void contentViewDidDismiss(KSContentView& view) override;
    void contentViewDidFail(KSContentView& view, const plat::foundation::Error& error) override;
    // KSAPIRequestDelegate, of the subcontent requests
    void requestDidSucceedWithResponse(KSAPIRequest& request, const KSJsonValue* response) override;
    void requestDidFailWithError(KSAPIRequest& request, const plat::foundation::Error& error) override;

    // The template's calls.
    void requestSubcontent(const KSJsonObject* context, const std::optional<std::string>& callback,
                           KSContentView& source);
    void requestCloseButton(const KSJsonObject* context, const std::optional<std::string>& callback,
                            KSContentView& source);
    void requestRewards(const KSJsonObject* context, const std::optional<std::string>& callback,
                        KSContentView& source);
    void requestPurchases(const KSJsonObject* context, const std::optional<std::string>& callback,
                          KSContentView& source);

    int m_state = kMade;
    int m_targetState = kMade;
    bool m_animated = true;
    bool m_showsOverlayImmediately = false;
    bool m_displayed = false;
    int m_lastUpright = 1;
    std::string m_placement;
    KSPublisherContentRequestDelegate* m_delegate = nullptr;
    std::function<void(int, int)> m_stateObserver;
    std::shared_ptr<KSContent> m_content;
    std::shared_ptr<plat::ui::View> m_overlay;
    std::shared_ptr<KSCloseButton> m_closeButton;
    std::vector<std::shared_ptr<KSContentView>> m_contentViews;
    plat::foundation::Timer m_closeButtonTimer;
    plat::foundation::Observation m_background;
    plat::foundation::Observation m_orientation;
    bool m_generatingOrientation = false;
    LoadingForward m_loadingForward;
};
