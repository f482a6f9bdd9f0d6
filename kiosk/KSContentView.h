// Shows a content unit in a web view and runs the "ks:" bridge through which its template calls
// native code. Views are pooled: each holds a web view, which is costly to make. Main thread.
//
// The view lies over the screen facing the device. Windows here turn with the interface, so it is
// laid out in the interface's bounds and turns only by what the device is turned from the interface:
// not at all once the interface follows the device. Modal units slide up (0.25 s
// ease-in, down the view's own axis); dialog units bounce in (0.125 s ease-out to 1.1, 0.125 s
// ease-in back) with a 1-point border, black or the delegate's; a unit neither modal nor dialog
// shows in the modal frame and closes like one, never animated. A turn re-lays the view out within
// the status bar's turn (dialogs move at once); face up, face down and unknown leave it as it is,
// and at a show count as the interface's orientation; no frame for the orientation, at show or on
// a turn, fails with code 2. Only web addresses load: a
// template that is not http or https fails on the next turn as a load that could not start
// (NSURLErrorDomain -1002), and the page may navigate only to http, https and "about:blank". "ks:"
// navigations go to the commands registered by address with one to three arguments, others are
// refused: ks://dismiss pings through a loader that opens nothing, ks://launch opens through one
// whose context carries the callback and replies with the final address, ks://loadContext sets the
// protocol version and replies. sendCallback writes the callback id as a JSON string literal and
// checks "OK" from the synchronous evaluation. The gray spinner, centred on the page at the show
// and at every turn, turns until the template has loaded, which also sets
// "WebKitCacheModelPreferenceKey" to 0. Each show has a serial number and every animation's end
// acts only on its own show; reuse resets the page and then closes it (nothing of a dismissed unit
// runs on in the pool: no timer, worker or fetch), drops other targets' commands and invalidates
// the view's loaders; a memory warning empties the pool. A show with no
// frame for the orientation fails before its template is fetched or run.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "kiosk/KSContent.h"
#include "kiosk/KSURLLoader.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/WebView.h"

class KSContentView;

// Every shown content view hands the reply {"callback", "response", "error"} to its page.
inline constexpr const char* kKSContentViewCallbackNotification = "KSContentViewKSCallbackNotification";

// All optional.
class KSContentViewDelegate {
public:
    virtual ~KSContentViewDelegate() = default;
    virtual void contentViewDidShow(KSContentView&) {}
    virtual void contentViewDidLoad(KSContentView&) {}
    virtual void contentViewDidDismiss(KSContentView&) {}
    virtual void contentViewDidFail(KSContentView&, const plat::foundation::Error&) {}
    // A dialog unit's border; black without an answer.
    virtual std::optional<plat::ui::Color> borderColorForContentView(KSContentView&) { return std::nullopt; }
};

class KSContentView : public plat::ui::View, private plat::ui::WebViewDelegate, private KSURLLoaderDelegate {
public:
    using Context = const KSJsonObject*;
    using CallbackId = const std::optional<std::string>&;
    // A command's action by its arity: the context; the callback id too; the view too.
    using Action = std::variant<std::function<void(Context)>, std::function<void(Context, CallbackId)>,
                                std::function<void(Context, CallbackId, KSContentView&)>>;

    // Made with std::make_shared, then init().
    static std::shared_ptr<KSContentView> make(std::shared_ptr<KSContent> content);
    static std::shared_ptr<KSContentView> dequeueContentViewInstance();
    static void enqueueContentViewInstance(std::shared_ptr<KSContentView> view);
    static void clearContentViews();
    static std::size_t pooledCount();
    // Posts kKSContentViewCallbackNotification with `reply` as its object.
    static void postCallback(const KSJsonObject& reply);

    KSContentView();
    ~KSContentView() override;

    void show(bool animated);
    void dismiss(bool animated);
    // A null target removes the command.
    void redirectRequest(const std::string& address, const void* target, Action action);
    bool sendCallback(const std::optional<std::string>& callbackId, const KSJsonValue* response,
                      const KSJsonValue* error);
    void prepareForReuse();

    const std::shared_ptr<KSContent>& content() const { return m_content; }
    void setContent(std::shared_ptr<KSContent> content) { m_content = std::move(content); }
    KSContentViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(KSContentViewDelegate* delegate) { m_delegate = delegate; }
    plat::ui::View* targetView() const { return m_targetView; }
    void setTargetView(plat::ui::View* view) { m_targetView = view; }
    plat::ui::WebView& webView() const { return *m_webView; }
    // Null until the first show.
    plat::ui::ActivityIndicator* activityView() const { return m_activity.get(); }
    // The device orientation of the last layout.
    int orientation() const { return m_orientation; }

private:
    struct Call {
        const void* target;
        Action action;
    };
    bool shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                         plat::ui::WebNavigationType type) override;
    void didFinishLoad(plat::ui::WebView&) override;
    void didFailLoad(plat::ui::WebView&, const plat::foundation::Error& error) override;
    // The outcome of a "ks://launch": the final address back to the page.
    void loaderFinished(KSURLLoader& loader) override;
    void loaderFailed(KSURLLoader& loader) override;

    // Over the whole screen, facing the device orientation (stored); with `transform` the turn is
    // set too.
    void sizeToFitOrientation(bool transform);
    void orientationChanged();
    // Between show and close the view follows the device's turns: the device posts them only while
    // someone has asked for them, so the view asks for as long as it watches, once.
    void watchOrientation();
    void stopWatching();
    plat::ui::ActivityIndicator& ensureActivityView();
    // On the web view, at a show and at every turn.
    void centreSpinner();
    // `then` runs at the end only while `show` is still the view's latest.
    void slide(bool in, unsigned show, std::function<void()> then);
    void bounce(bool in, unsigned show, std::function<void()> then);
    std::function<void(bool)> ifStill(unsigned show, std::function<void()> then);
    void didShow(unsigned show);
    void refuseTemplate(unsigned show);
    void dismissWithError(const plat::foundation::Error& error);
    void closeView(bool animated);
    // The end of a close, only while the show it closes is the view's latest.
    void didDismiss(unsigned show);
    void handleDismiss(Context context);
    void handleLaunch(Context context, CallbackId callback);
    void handleLoadContext(Context context, CallbackId callback);

    std::map<std::string, Call> m_calls;
    std::shared_ptr<plat::ui::WebView> m_webView;
    std::shared_ptr<plat::ui::ActivityIndicator> m_activity;
    std::shared_ptr<KSContent> m_content;
    int m_orientation = 1;
    bool m_willAnimate = false;
    unsigned m_show = 0;
    KSContentViewDelegate* m_delegate = nullptr;
    plat::ui::View* m_targetView = nullptr;
    std::vector<plat::foundation::Observation> m_observations;
    bool m_generatingOrientation = false;
};
