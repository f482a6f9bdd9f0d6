// The rich-media bridge's display commands: growing the ad beyond its slot (to a frame or the whole
// screen, optionally with a second page), contracting it, the page's display callbacks, viewability
// and the close widget's place and image.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

#include "orbad/ads/OrbadRichMediaSecondPartView.h"
#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "orbad/ads/OrbadWidgetButtonController.h"
#include "orbad/richmedia/OrbadExpandableViewController.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"

namespace orbad {

namespace {

constexpr const char* kOk = "successCallbackFunctionName";
constexpr const char* kErr = "errorCallbackFunctionName";
constexpr const char* kMissingFrameText =
    "ERROR: did not set one or more of: x, y, width, or height when resizing ad";
constexpr const char* kWidgetPositionRefusedText =
    "Setting the position of the close widget button is not supported when using the "
    "MobileAdSupportedInterfaceOrientations meta tag.";

using Parameters = OrbadRichMediaWebAdView::Parameters;

std::optional<std::string> parameter(const Parameters& parameters, const char* name) {
    auto it = parameters.find(name);
    if (it == parameters.end()) return std::nullopt;
    return it->second;
}

// A parameter read as a float the way the platform reads text (leading blanks, a sign, the longest
// number, 0 when there is none; the C locale). A value that is no finite float counts as absent:
// a page must not steer a frame or a timer with infinities.
std::optional<double> number(const Parameters& parameters, const char* name) {
    const auto text = parameter(parameters, name);
    if (!text) return std::nullopt;
    std::string_view rest(*text);
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) return std::nullopt;
    if (error != std::errc()) value = 0;
    const float single = static_cast<float>(value);
    if (!std::isfinite(single)) return std::nullopt;
    return single;
}

// Only pages of the web may fill the enlarged area: a "file:" or any other scheme could show the
// user what lies on the device.
bool isWebURL(std::string_view url) {
    std::string low;
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return false;
        low += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (std::string_view prefix : {"http://", "https://"})
        if (low.starts_with(prefix) && low.size() > prefix.size()) return true;
    return false;
}

std::string numberText(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace

// ---- the expand controller's events ----

// Goes with the view; a controller that outlives it (holding a second page) then tells nobody.
class OrbadRichMediaWebAdView::ExpandableDelegate : public OrbadExpandableViewControllerDelegate {
public:
    ExpandableDelegate(OrbadRichMediaWebAdView& view, const std::shared_ptr<OrbadExpandableViewController>& controller)
        : m_view(view), m_controller(controller) {
        controller->setDelegate(this);
    }
    ~ExpandableDelegate() override {
        if (auto controller = m_controller.lock())
            if (controller->delegate() == this) controller->setDelegate(nullptr);
    }
    void obExpandableViewControllerDidCloseAdView(OrbadExpandableViewController& controller,
                                                 plat::ui::View&) override {
        m_view.expandableDidClose(controller);
    }
    void obExpandableViewControllerWillCloseAdView(OrbadExpandableViewController&, plat::ui::View&) override {
        m_view.expandableWillClose();
    }
    void obExpandableViewControllerDidFinishResizingAdView(OrbadExpandableViewController&,
                                                          plat::ui::View&) override {
        m_view.expandableDidFinishResizing();
    }

private:
    OrbadRichMediaWebAdView& m_view;
    std::weak_ptr<OrbadExpandableViewController> m_controller;
};

plat::ui::ViewController* OrbadRichMediaWebAdView::attachedViewController() const {
    return m_expandable.get();
}

void OrbadRichMediaWebAdView::expandableDidFinishResizing() {
    if (m_displayCallbacks.finishedResizing) callback(*m_displayCallbacks.finishedResizing);
}

void OrbadRichMediaWebAdView::expandableWillClose() {
    if (m_displayCallbacks.willContract) callback(*m_displayCallbacks.willContract);
}

void OrbadRichMediaWebAdView::putBack() {
    if (m_originalAdSuperview && superview() != m_originalAdSuperview.get())
        m_originalAdSuperview->addSubview(shared_from_this());
    setFrame(m_originalAdFrame);
    m_originalAdSuperview.reset();
}

void OrbadRichMediaWebAdView::expandableDidClose(OrbadExpandableViewController& controller) {
    if (m_expandable.get() != &controller) return;
    // Alive to the end, whatever the controller let go of; the engine too, which may have no
    // other owner than the slot this view goes back into.
    const std::shared_ptr<plat::ui::View> self = shared_from_this();
    const auto host = mainAdView();
    if (!allowsWebViewScrolling()) disableScrolling(*this);
    putBack();
    controller.dismissViewController(false);
    if (host) host->adDidFinishTouchThrough(m_currentAd);
    controller.setDelegate(nullptr);
    // The controller is still inside its own call: it goes once that has returned.
    plat::foundation::RunLoop::main().perform([gone = std::move(m_expandable)] {});
    m_expandableDelegate.reset();
    m_displayCallbacks.willContract.reset();
    if (m_displayCallbacks.finishedResizing) callback(*m_displayCallbacks.finishedResizing);
    m_displayCallbacks.finishedResizing.reset();
    m_adIsRestricted = true;
    cleanupAd();
}

// ---- growing and shrinking ----

void OrbadRichMediaWebAdView::sizeAd(const Parameters& parameters) {
    const auto ok = parameter(parameters, kOk);
    const auto err = parameter(parameters, kErr);
    // Everything the page asks is checked before the engine is asked for the screen: an error
    // must never leave the take-over (and every banner's refresh) held.
    const auto x = number(parameters, "x"), y = number(parameters, "y");
    const auto width = number(parameters, "width"), height = number(parameters, "height");
    if (!x || !y || !width || !height) {
        if (err) callback(*err, kMissingFrameText);
        return;
    }
    const bool expanded = isExpanded();
    const auto expandURL = parameter(parameters, "expandURL");
    if (!expanded && expandURL && !isWebURL(*expandURL)) {
        if (err) callback(*err, "ERROR: The expand URL ->" + *expandURL + "<- was not valid.");
        return;
    }
    // Held to the room the screen leaves right of and below the origin.
    const plat::ui::Rect screen = plat::sys::Screen::main().bounds();
    plat::ui::Rect frame{std::max(0.0, *x), std::max(0.0, *y), *width, *height};
    if (frame.x + frame.width > screen.width) frame.width = std::max(0.0, screen.width - frame.x);
    if (frame.y + frame.height > screen.height) frame.height = std::max(0.0, screen.height - frame.y);
    const double duration = number(parameters, "animationDuration").value_or(1.0);

    if (expanded) {
        enableScrolling(*this);
        if (m_expandable) m_expandable->resizeToFrame(frame, duration);
        if (ok) callback(*ok);
        return;
    }
    auto host = mainAdView();
    plat::ui::ViewController* presenter = host ? host->viewController() : nullptr;
    if (!presenter || !host->adShouldTouchThrough(m_currentAd)) return;
    enableScrolling(*this);
    m_originalAdSuperview = superview() ? superview()->shared_from_this() : nullptr;
    m_originalAdFrame = this->frame();
    std::shared_ptr<plat::ui::View> adView = shared_from_this();
    std::shared_ptr<OrbadRichMediaSecondPartView> second;
    if (expandURL) {
        second = std::make_shared<OrbadRichMediaSecondPartView>();
        second->setMainAdView(m_mainAdView);
        second->loadRequest({*expandURL});
        adView = second;
    }
    m_expandable = std::make_shared<OrbadExpandableViewController>(adView, frame, duration,
                                                                   presenter->interfaceOrientation());
    // The second page's widget is the expand controller's own; placing it before its button
    // exists does nothing.
    if (second && second->widgetButtonController())
        second->widgetButtonController()->setButtonPosition({this->frame().width - 2, 2}, 0);
    m_expandableDelegate = std::make_shared<ExpandableDelegate>(*this, m_expandable);
    presenter->presentViewController(m_expandable, false);
    if (!m_expandable->presentingViewController()) {
        // The presenter would not show it (off screen, or showing another): as if never asked.
        m_expandable->setDelegate(nullptr);
        m_expandable.reset();
        m_expandableDelegate.reset();
        putBack();
        host->adDidFinishTouchThrough(m_currentAd);
        return;
    }
    if (ok) callback(*ok);
}

void OrbadRichMediaWebAdView::sizeAdToFullScreen(const Parameters& parameters) {
    const plat::ui::Rect screen = plat::sys::Screen::main().bounds();
    Parameters frame{{"x", numberText(screen.x)},
                     {"y", numberText(screen.y)},
                     {"width", numberText(screen.width)},
                     {"height", numberText(screen.height)}};
    for (const char* name : {"animationDuration", kOk, kErr, "expandURL"})
        if (auto value = parameter(parameters, name)) frame[name] = *value;
    sizeAd(frame);
}

void OrbadRichMediaWebAdView::contractAd(const std::optional<std::string>& ok, double duration) {
    if (!allowsWebViewScrolling()) disableScrolling(*this);
    if (m_expandable) m_expandable->contractAndCloseWithDuration(duration);
    if (ok) callback(*ok);
}

void OrbadRichMediaWebAdView::commandDisplayResizeTo(const Parameters& parameters) {
    sizeAd(parameters);
}

void OrbadRichMediaWebAdView::commandDisplayExpandToFullScreen(const Parameters& parameters) {
    sizeAdToFullScreen(parameters);
}

void OrbadRichMediaWebAdView::commandDisplayContractAd(const Parameters& parameters) {
    contractAd(parameter(parameters, kOk), number(parameters, "animationDuration").value_or(1.0));
}

// ---- the display callbacks ----

void OrbadRichMediaWebAdView::setDisplayCallback(std::optional<std::string> OrbadDisplayCallbacks::*field,
                                                 const char* name, const Parameters& parameters) {
    if (auto value = parameter(parameters, name)) m_displayCallbacks.*field = *value;
}

void OrbadRichMediaWebAdView::answerDisplayCallbackSet(const Parameters& parameters) {
    if (auto ok = parameter(parameters, kOk)) callback(*ok);
}

void OrbadRichMediaWebAdView::commandDisplaySetAdFinishedResizingCallback(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::finishedResizing, "adFinishedResizingCallbackFunctionName", parameters);
    answerDisplayCallbackSet(parameters);
}

void OrbadRichMediaWebAdView::commandDisplaySetAdWillContractCallback(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::willContract, "adWillContractCallbackFunctionName", parameters);
    answerDisplayCallbackSet(parameters);
}

void OrbadRichMediaWebAdView::commandDisplaySetAdWillTerminateCallback(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::willTerminate, "adWillTerminateCallbackFunctionName", parameters);
    answerDisplayCallbackSet(parameters);
}

void OrbadRichMediaWebAdView::commandDisplaySetAdWillBecomeHiddenCallback(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::willBecomeHidden, "adWillBecomeHiddenCallbackFunctionName",
                       parameters);
    answerDisplayCallbackSet(parameters);
}

void OrbadRichMediaWebAdView::commandDisplaySetAdDidReturnFromHiddenCallback(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::didReturnFromHidden, "adDidReturnFromHiddenCallbackFunctionName",
                       parameters);
    answerDisplayCallbackSet(parameters);
}

void OrbadRichMediaWebAdView::commandDisplaySetAdDidDisplayCallback(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::didDisplay, "adDidDisplayCallbackFunctionName", parameters);
    answerDisplayCallbackSet(parameters);
    // A page that registers once the ad is on screen hears of it at once.
    if (m_hasDisplayed && m_displayCallbacks.didDisplay) callback(*m_displayCallbacks.didDisplay);
}

void OrbadRichMediaWebAdView::commandDisplaySetAdHasBeenDismissedCallback(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::hasBeenDismissed, "adHasBeenDismissedCallbackFunctionName",
                       parameters);
    answerDisplayCallbackSet(parameters);
}

void OrbadRichMediaWebAdView::commandDisplaySetAllCallbacks(const Parameters& parameters) {
    setDisplayCallback(&OrbadDisplayCallbacks::finishedResizing, "adFinishedResizingCallbackFunctionName", parameters);
    setDisplayCallback(&OrbadDisplayCallbacks::willContract, "adWillContractCallbackFunctionName", parameters);
    setDisplayCallback(&OrbadDisplayCallbacks::willTerminate, "adWillTerminateCallbackFunctionName", parameters);
    setDisplayCallback(&OrbadDisplayCallbacks::willBecomeHidden, "adWillBecomeHiddenCallbackFunctionName",
                       parameters);
    setDisplayCallback(&OrbadDisplayCallbacks::didReturnFromHidden, "adDidReturnFromHiddenCallbackFunctionName",
                       parameters);
    answerDisplayCallbackSet(parameters);
}

void OrbadRichMediaWebAdView::commandDisplayGetIsViewable(const Parameters& parameters) {
    if (auto cb = parameter(parameters, "callbackFunctionName"))
        evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(*cb) + "', " + (m_hasDisplayed ? "true" : "false") + ");");
}

// ---- the close widget ----

void OrbadRichMediaWebAdView::commandSetCloseWidgetButtonPosition(const Parameters& parameters) {
    if (m_widget && m_widget->supportsAutorotation()) {
        if (auto err = parameter(parameters, kErr)) callback(*err, kWidgetPositionRefusedText);
        return;
    }
    // Without a widget (not expanded) the place is dropped, yet the page hears it went well.
    if (m_widget)
        m_widget->setButtonPosition({number(parameters, "x").value_or(0), number(parameters, "y").value_or(0)},
                                    number(parameters, "angle").value_or(0));
    if (auto ok = parameter(parameters, kOk)) callback(*ok);
}

void OrbadRichMediaWebAdView::commandNotifyCloseWidgetButtonImageChanged(const Parameters&) {
    if (m_widget) m_widget->buttonImageChanged();
}

}  // namespace orbad
