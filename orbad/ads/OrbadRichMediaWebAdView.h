// The rich-media creative: an HTML ad written to a page file beside the "mraid.js" stub and loaded
// from there, which talks to native code by navigating to "madview://" command URLs and hears back
// through scripts evaluated in it. Everything a page navigates to is untrusted: every text put back
// into a script goes through orbadJSQuoted. Main thread only.
//
// The engine's view for HTML creatives of every unit but 999 x 999. Each ad is written to
// Caches/<process>/OrbadTempAd-<seconds since 2001>-<hex id>.html beside one shared stub; the view
// reports its first load once. A pooled view deletes its previous page when the next replaces it
// and at prepareForReuse, which also ends the page (nothing of it runs in the pool); teardown
// deletes both files. An ad without markup counts as a page that could not be written (the engine
// hears 0.05 s later). The ad's properties reach the page as a start script of the view
// (window.mAdViewAdProperties, defined before the ad's first script). A page that ended with its
// web process after its first load is told to the engine (adsViewPageEnded); other later failures
// are the page's own.
//
// The link decision and the table of "madview" commands with their gates are in
// OrbadRichMediaBridge.cpp (commands whose actions come later do nothing; their gates already
// hold). Of local files only the ad's own page file loads, whatever its query or fragment; any
// other, like an unknown scheme, goes to the page's unknown-address handler. The ad stays
// restricted until the user touches it: a touch the view itself receives, or a navigation the
// engine marks as a link click (on WPE only one the user's gesture made). The page's
// mAdViewPermissionsCheck() is never asked: a page can dispatch a click to itself and answer with
// the key its "domReady" listener was given (the listener is still injected, for pages that read
// it). A closed expanded ad is restricted again until the next touch; when the in-app browser
// closes, a banner-sized ad is restricted again. A link whose "dest" carries an sms address texts
// the decoded address. A link opened over an expanded ad goes to the installed BrowserPresenter,
// else to the engine's browser (style 3).
//
// The display commands (OrbadRichMediaDisplayCommands.cpp) check everything the page sends before
// the engine is asked for the screen, so an error never leaves the take-over (inModalAd, which
// holds every banner's refresh) taken: a frame value that is no finite number counts as missing,
// only an http or https expand URL is taken, and a frame running past the screen is held to the
// room left (W - x, H - y). Without a controller to present from, the engine is not asked. The
// expand controller is let go on the turn after it reports the close, never inside its own call;
// the close holds the engine until its take-over is given back (the slot the ad returns to may be
// its last owner). A resize asked once the closing has begun is ignored. A view let go while its
// second page is up takes that screen down on the next turn and gives the take-over back.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "orbad/ads/OrbadAd.h"
#include "orbad/ads/OrbadAdsView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/image/ImageCodec.h"
#include "platform/services/devices/MediaServices.h"
#include "platform/ui/WebView.h"

namespace plat::ui {
class AlertView;
class ImagePickerController;
struct PickedMedia;
}  // namespace plat::ui

namespace orbad {

class OrbadExpandableViewController;
class OrbadWidgetButtonController;

inline constexpr const char* kOrbadPermissionsErrorText =
    "Error: this action can only be performed once the user has initiated interaction with the advertisement";
inline constexpr const char* kOrbadDisplayedNoticeScript = "mAdViewCallbackHandler('adHasBeenDisplayed');";
inline constexpr const char* kOrbadAutoplayScript =
    "var m=document.querySelectorAll('video[autoplay],audio[autoplay]');for(x=0;x<m.length;x++){m[x].play()};";
inline constexpr const char* kOrbadPauseScript =
    "var m=document.querySelectorAll('video[autoplay],audio[autoplay]');for(x=0;x<m.length;x++){m[x].pause()};";
inline constexpr const char* kOrbadStubFileName = "mraid.js";

// The function names a page registers for display events (each empty: none).
struct OrbadDisplayCallbacks {
    std::optional<std::string> willContract, finishedResizing, willTerminate, willBecomeHidden,
        didReturnFromHidden, didDisplay, hasBeenDismissed;
};

class OrbadRichMediaWebAdView : public plat::ui::WebView, public OrbadAdsView, private plat::ui::WebViewDelegate {
public:
    using Parameters = std::map<std::string, std::string>;
    // Opens a link in a browser over an expanded ad (the browser's screen, once there is one).
    using BrowserPresenter = std::function<void(const std::string& url, OrbadRichMediaWebAdView& from)>;
    static void setBrowserPresenter(BrowserPresenter presenter);

    explicit OrbadRichMediaWebAdView(const plat::ui::Rect& frame);
    ~OrbadRichMediaWebAdView() override;
    const char* className() const override { return "OrbadRichMediaWebAdView"; }

    // ---- the engine's contract ----
    // A non-null engine applies its restrictions.
    void setMainAdView(std::weak_ptr<OrbadAdsViewHost> host) override;
    void adHasBeenDismissed() override;
    void adHasBeenDisplayed() override;
    void stopLoading() override;
    void loadWithAd(std::shared_ptr<OrbadAd> ad) override;
    bool canBeReused() const override { return true; }
    void prepareForReuse() override;
    plat::ui::View& adsView() override { return *this; }
    const char* adsViewClassName() const override { return className(); }

    // ---- what subclasses answer differently ----
    virtual bool isExpanded() const { return m_expandable != nullptr; }
    // What presents the ad's own screens while it is expanded (null when it is not).
    virtual plat::ui::ViewController* attachedViewController() const;
    virtual bool allowsWebViewScrolling() const { return false; }
    virtual bool allowNewBrowserModals() const { return true; }
    bool isAutoplayable() const { return m_adCanAutoplay && m_hasDisplayed; }

    // ---- the view ----
    // Also hands the ad's properties to the documents the view shows from now on.
    void setCurrentAd(std::shared_ptr<OrbadWebAd> ad);
    const std::shared_ptr<OrbadWebAd>& currentAd() const { return m_currentAd; }
    void setRestrictions();
    static void enableScrolling(plat::ui::View& view);
    static void disableScrolling(plat::ui::View& view);
    // Stops the page's listeners and forgets its callbacks, without a word to the page.
    void cleanupAd();
    void failedToLoad();
    void didRotateFromInterfaceOrientation(int fromOrientation);
    // The ad's rich-media action, carried out by the engine: `operation` with `object`.
    void sendActionWithSuccessSelectorName(const std::string& name,
                                           std::function<void(const plat::foundation::Value&)> operation,
                                           plat::foundation::Value object);
    // The stub's statements for the engine's current values.
    std::string stubScript() const;

    // ---- the bridge ----
    void handleAdViewURL(const std::string& url);
    // The page's own proof of a click, kept for pages that read it; it opens nothing.
    void injectPermissionsKey();
    // A touch the view itself received (its own, or a navigation the engine marks as the user's
    // click) lets a restricted ad act; nothing the page can set or define does.
    void userDidInteract();
    void sendPermissionsErrorToCallback(const std::optional<std::string>& name);
    void openURLInNewWindow(const std::string& url);
    void browserDidClose();
    // "mAdViewCallbackHandler('NAME');" and "...('NAME', 'TEXT');", both texts quoted.
    void callback(const std::string& name);
    void callback(const std::string& name, const std::string& text);

    // ---- the commands a page sends, each with the command's parameters ----
    void commandDomReady(const Parameters& parameters);

    // display and expansion
    void commandSetCloseWidgetButtonPosition(const Parameters& parameters);
    void commandNotifyCloseWidgetButtonImageChanged(const Parameters& parameters);
    void commandDisplayResizeTo(const Parameters& parameters);
    void commandDisplayExpandToFullScreen(const Parameters& parameters);
    void commandDisplayContractAd(const Parameters& parameters);
    void commandDisplaySetAdFinishedResizingCallback(const Parameters& parameters);
    void commandDisplaySetAdWillContractCallback(const Parameters& parameters);
    void commandDisplaySetAdWillTerminateCallback(const Parameters& parameters);
    void commandDisplaySetAdWillBecomeHiddenCallback(const Parameters& parameters);
    void commandDisplaySetAdDidReturnFromHiddenCallback(const Parameters& parameters);
    void commandDisplaySetAdDidDisplayCallback(const Parameters& parameters);
    void commandDisplaySetAdHasBeenDismissedCallback(const Parameters& parameters);
    void commandDisplaySetAllCallbacks(const Parameters& parameters);
    void commandDisplayGetIsViewable(const Parameters& parameters);
    // Grows the ad to the frame of "x", "y", "width" and "height" (held to the screen), or the
    // whole screen, presented over the engine's controller; with "expandURL" a second page fills
    // the enlarged area. Nothing happens, and nothing is answered, when the engine refuses the
    // take-over.
    void sizeAd(const Parameters& parameters);
    void sizeAdToFullScreen(const Parameters& parameters);
    // Shrinks an expanded ad back into its slot; `ok` hears either way.
    void contractAd(const std::optional<std::string>& ok, double duration);
    // From the expand controller.
    void expandableDidFinishResizing();
    void expandableWillClose();
    void expandableDidClose(OrbadExpandableViewController& controller);
    const std::shared_ptr<OrbadExpandableViewController>& expandableViewController() const { return m_expandable; }
    const plat::ui::Rect& originalAdFrame() const { return m_originalAdFrame; }

    // device information and capabilities
    void commandDeviceBatteryState(const Parameters& parameters);
    void commandDeviceUniqueId(const Parameters& parameters);
    void commandDeviceModel(const Parameters& parameters);
    void commandDeviceSystemVersion(const Parameters& parameters);
    void commandDeviceHardwareModel(const Parameters& parameters);
    void commandDeviceConnectionType(const Parameters& parameters);
    void commandDeviceLanguage(const Parameters& parameters);
    void commandDeviceLocale(const Parameters& parameters);
    void commandDeviceScalingFactor(const Parameters& parameters);
    void commandDevicePlatform(const Parameters& parameters);
    void commandDeviceScreenSize(const Parameters& parameters);
    void commandDeviceInterfaceOrientation(const Parameters& parameters);
    void commandDeviceCurrentOrientation(const Parameters& parameters);
    void commandSetDeviceOrientationChangeCallback(const Parameters& parameters);
    void commandDeviceAccelerometerAvailable(const Parameters& parameters);
    void commandDeviceGyroscopeAvailable(const Parameters& parameters);
    void commandDeviceDeviceMotionAvailable(const Parameters& parameters);
    void commandDeviceGPSAvailable(const Parameters& parameters);
    void commandDeviceMagnetometerAvailable(const Parameters& parameters);
    void commandDeviceCameraAvailable(const Parameters& parameters);
    void commandDeviceFlashlightAvailable(const Parameters& parameters);
    void commandDeviceNeverAvailable(const Parameters& parameters);
    void commandDeviceVibrateAvailable(const Parameters& parameters);
    void commandDeviceEmailAvailable(const Parameters& parameters);
    void commandDeviceSMSAvailable(const Parameters& parameters);
    void commandDeviceShakeListeningAvailable(const Parameters& parameters);

    // sensors and listeners
    void commandDeviceStartShakeListening(const Parameters& parameters);
    void commandDeviceStopShakeListening(const Parameters& parameters);
    void commandAccelerometerStart(const Parameters& parameters);
    void commandAccelerometerStop(const Parameters& parameters);
    void commandGyroscopeStart(const Parameters& parameters);
    void commandGyroscopeStop(const Parameters& parameters);
    void commandDeviceMotionStart(const Parameters& parameters);
    void commandDeviceMotionStop(const Parameters& parameters);
    void commandGpsStart(const Parameters& parameters);
    void commandGpsStop(const Parameters& parameters);
    void commandMagnetometerStart(const Parameters& parameters);
    void commandMagnetometerStop(const Parameters& parameters);
    // The end of a motion gesture, as the responder hears it; only kOrbadShakeMotion counts.
    void motionEnded(int motion);
    static constexpr int kOrbadShakeMotion = 1;

    // camera, songs, alerts, vibration, flashlight, mail and SMS
    void commandDeviceFlashlightOn(const Parameters& parameters);
    void commandDeviceFlashlightOff(const Parameters& parameters);
    void commandDeviceVibrate(const Parameters& parameters);
    void commandDeviceAlert(const Parameters& parameters);
    void commandCameraTakePhoto(const Parameters& parameters);
    void commandMediaQuerySongs(const Parameters& parameters);

    // ---- state ----
    bool adIsRestricted() const { return m_adIsRestricted; }
    bool hasDisplayed() const { return m_hasDisplayed; }
    bool firstLoad() const { return m_firstLoad; }
    bool adCanAutoplay() const { return m_adCanAutoplay; }
    bool requiresUserInteraction() const { return m_richMediaRequiresUserInteraction; }
    const std::optional<std::string>& permissionsKey() const { return m_permissionsKey; }
    const std::string& cacheLocation() const { return m_cacheLocation; }
    const std::string& mraidCacheLocation() const { return m_mraidCacheLocation; }
    OrbadDisplayCallbacks& displayCallbacks() { return m_displayCallbacks; }
    std::optional<std::string>& orientationCallback() { return m_orientationCallback; }
    const std::shared_ptr<OrbadWidgetButtonController>& widgetButtonController() const { return m_widget; }
    void setWidgetButtonController(std::shared_ptr<OrbadWidgetButtonController> widget) {
        m_widget = std::move(widget);
    }

protected:
    // The SMS and mail steps of links (their composers come with the bridge commands).
    virtual void sendSMSFromURI(const std::string& uri);
    virtual void sendEmailFromURI(const std::string& uri);
    virtual void deviceOrientationDidChange();
    // The page's loads and the link decision; subclasses add to them.
    bool shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                         plat::ui::WebNavigationType type) override;
    void didStartLoad(plat::ui::WebView&) override;
    void didFinishLoad(plat::ui::WebView&) override;
    void didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) override;

public:
    void touchesBegan(const plat::ui::TouchSet& touches, const plat::ui::Event& event) override;

private:
    std::string evaluate(const std::string& script) { return stringByEvaluatingJavaScript(script); }
    void removePageFile();

    std::string m_cacheLocation;
    std::string m_mraidCacheLocation;
    std::shared_ptr<OrbadWebAd> m_currentAd;
    bool m_firstLoad = false;
    bool m_hasDisplayed = false;
    bool m_adIsRestricted = false;
    bool m_adCanAutoplay = false;
    bool m_richMediaRequiresUserInteraction = true;
    std::optional<std::string> m_permissionsKey;
    OrbadDisplayCallbacks m_displayCallbacks;
    std::optional<std::string> m_orientationCallback;
    std::shared_ptr<OrbadWidgetButtonController> m_widget;
    plat::foundation::Observation m_orientationObservation;
    plat::foundation::Observation m_browserObservation;

private:
    // ---- camera, songs, alerts, vibration, flashlight, mail and SMS ----
    class MediaRelay;
    struct AlertContext;
    friend class MediaRelay;
    // Presents and dismisses the covering screens: the engine's controller, or the attached one
    // while expanded.
    plat::ui::ViewController* hostController() const;
    // Not expanded: the engine must let the ad take the screen (then true, and `took` set).
    bool takeTouchThrough(bool& took);
    void finishTouchThrough(bool took);
    void willBecomeHidden();
    void didReturnFromHidden();
    // Framed by the hidden callbacks; false (all undone) when the controller refuses it.
    bool presentCovering(plat::ui::ViewController& controller, const std::shared_ptr<plat::ui::ViewController>& screen,
                         bool took);
    void takePhotoAndReturnToWebview();
    void photoPicked(plat::ui::ImagePickerController& picker, const plat::ui::PickedMedia* media);
    void photoCallback(const plat::image::Bitmap& image);
    void clearPhotoRequest();
    void askUserPermissionToQuerySongs(std::optional<std::string> json, std::optional<std::string> ok,
                                       std::optional<std::string> err);
    void querySongs(const std::optional<std::string>& json, const std::optional<std::string>& ok,
                    const std::optional<std::string>& err);
    void alertAnswered(plat::ui::AlertView& alert, int index, const std::string& title, bool cancelled);
    void composerFinished(plat::ui::ViewController& composer, bool took);
    void turnFlashlightOff();

    std::shared_ptr<MediaRelay> m_mediaRelay;
    std::optional<int> m_imageWidth, m_imageHeight;
    std::optional<std::string> m_imageSuccessCallback, m_imageErrorCallback;
    bool m_photoTookTouchThrough = false;
    // Touch-throughs taken and not yet given back, and the screens presented over the page: a view
    // that goes gives back the first and takes down the second, which nothing else could close.
    int m_heldTouchThroughs = 0;
    std::vector<std::weak_ptr<plat::ui::ViewController>> m_coveringScreens;
    void endMediaScreens();
    std::unique_ptr<plat::devices::CaptureSession> m_session;
    std::map<const plat::ui::AlertView*, std::shared_ptr<AlertContext>> m_alertContexts;

    // ---- display and expansion ----
    class ExpandableDelegate;
    void setDisplayCallback(std::optional<std::string> OrbadDisplayCallbacks::*field, const char* name,
                            const Parameters& parameters);
    void answerDisplayCallbackSet(const Parameters& parameters);
    // Back into the slot it grew out of.
    void putBack();
    friend class OrbadRichMediaSecondPartView;
    std::shared_ptr<OrbadExpandableViewController> m_expandable;
    std::shared_ptr<ExpandableDelegate> m_expandableDelegate;
    std::shared_ptr<plat::ui::View> m_originalAdSuperview;
    plat::ui::Rect m_originalAdFrame;

    // device information, capabilities, sensors and listeners: the connection query and every
    // listening's state, made at first use
    struct DeviceState;
    struct DeviceStateDeleter {
        void operator()(DeviceState* state) const;
    };
    DeviceState& deviceState();
    void stopSensors();
    std::unique_ptr<DeviceState, DeviceStateDeleter> m_deviceState;
};

}  // namespace orbad
