// The rich-media view's side of its page: which navigations load, and the "madview" commands.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "orbad/ads/OrbadRichMediaURLParser.h"
#include "orbad/ads/OrbadRichMediaWebAdView.h"
#include "platform/sys/ClassRegistry.h"

namespace orbad {

namespace {

enum class Gate { None, Interaction, Autoplay };
enum class Action { Nothing, DomReady, Refused };

struct Command {
    std::string_view name;
    Gate gate;
    Action action;
};

// Every command name the page may send, with its gate. Rows whose actions come with the device,
// sensor, media and display commands do nothing yet, like an unknown name, but their gates already
// hold.
constexpr Command kCommands[] = {
    {"domReady", Gate::None, Action::DomReady},
    {"deviceBatteryState", Gate::None, Action::Nothing},
    {"deviceUniqueId", Gate::None, Action::Nothing},
    {"deviceModel", Gate::None, Action::Nothing},
    {"deviceSystemVersion", Gate::None, Action::Nothing},
    {"deviceHardwareModel", Gate::None, Action::Nothing},
    {"deviceConnectionType", Gate::None, Action::Nothing},
    {"deviceLanguage", Gate::None, Action::Nothing},
    {"deviceLocale", Gate::None, Action::Nothing},
    {"deviceScalingFactor", Gate::None, Action::Nothing},
    {"devicePlatform", Gate::None, Action::Nothing},
    {"deviceScreenSize", Gate::None, Action::Nothing},
    {"deviceScreenDensity", Gate::None, Action::Nothing},
    {"deviceInterfaceOrientation", Gate::None, Action::Nothing},
    {"deviceCurrentOrientation", Gate::None, Action::Nothing},
    {"setDeviceOrientationChangeCallback", Gate::None, Action::Nothing},
    {"deviceSetCloseWidgetButtonPosition", Gate::None, Action::Nothing},
    {"deviceNotifyCloseWidgetButtonImageChanged", Gate::None, Action::Nothing},
    {"deviceAccelerometerAvailable", Gate::None, Action::Nothing},
    {"deviceGyroscopeAvailable", Gate::None, Action::Nothing},
    {"deviceDeviceMotionAvailable", Gate::None, Action::Nothing},
    {"deviceGPSAvailable", Gate::None, Action::Nothing},
    {"deviceMagnetometerAvailable", Gate::None, Action::Nothing},
    {"deviceCameraAvailable", Gate::None, Action::Nothing},
    {"deviceFlashlightAvailable", Gate::None, Action::Nothing},
    {"deviceCalendarReadAvailable", Gate::None, Action::Nothing},
    {"deviceCalendarWriteAvailable", Gate::None, Action::Nothing},
    {"deviceContactsWriteAvailable", Gate::None, Action::Nothing},
    {"deviceVibrateAvailable", Gate::None, Action::Nothing},
    {"deviceEmailAvailable", Gate::None, Action::Nothing},
    {"deviceSMSAvailable", Gate::None, Action::Nothing},
    {"deviceShakeListeningAvailable", Gate::None, Action::Nothing},
    {"deviceStartShakeListening", Gate::None, Action::Nothing},
    {"deviceStopShakeListening", Gate::None, Action::Nothing},
    {"deviceStartOrientationChangeListening", Gate::None, Action::Nothing},
    {"deviceStopOrientationChangeListening", Gate::None, Action::Nothing},
    {"deviceFlashlightOn", Gate::Interaction, Action::Nothing},
    {"deviceFlashlightOff", Gate::Interaction, Action::Nothing},
    {"deviceVibrate", Gate::Interaction, Action::Nothing},
    {"deviceAlert", Gate::Autoplay, Action::Nothing},
    {"accelerometerStart", Gate::None, Action::Nothing},
    {"accelerometerStop", Gate::None, Action::Nothing},
    {"gyroscopeStart", Gate::None, Action::Nothing},
    {"gyroscopeStop", Gate::None, Action::Nothing},
    {"deviceMotionStart", Gate::None, Action::Nothing},
    {"deviceMotionStop", Gate::None, Action::Nothing},
    {"gpsStart", Gate::None, Action::Nothing},
    {"gpsStop", Gate::None, Action::Nothing},
    {"magnetometerStart", Gate::None, Action::Nothing},
    {"magnetometerStop", Gate::None, Action::Nothing},
    {"cameraTakePhoto", Gate::Autoplay, Action::Nothing},
    {"calendarAddEvent", Gate::None, Action::Refused},
    {"calendarGetCalendars", Gate::None, Action::Refused},
    {"calendarQueryEvents", Gate::None, Action::Refused},
    {"contactsAddContact", Gate::None, Action::Refused},
    {"contactsAddVCard", Gate::None, Action::Nothing},
    {"contactsGetContact", Gate::None, Action::Refused},
    {"mediaQuerySongs", Gate::Autoplay, Action::Nothing},
    {"mediaGetImage", Gate::None, Action::Refused},
    {"mediaSendImage", Gate::None, Action::Refused},
    {"displayResizeTo", Gate::Autoplay, Action::Nothing},
    {"displayExpandToFullScreen", Gate::Autoplay, Action::Nothing},
    {"displayContractAd", Gate::None, Action::Nothing},
    {"displaySetAdFinishedResizingCallback", Gate::None, Action::Nothing},
    {"displaySetAdWillContractCallback", Gate::None, Action::Nothing},
    {"displaySetAdWillTerminateCallback", Gate::None, Action::Nothing},
    {"displaySetAdWillBecomeHiddenCallback", Gate::None, Action::Nothing},
    {"displaySetAdDidReturnFromHiddenCallback", Gate::None, Action::Nothing},
    {"displaySetAdDidDisplayCallback", Gate::None, Action::Nothing},
    {"displaySetAdHasBeenDismissedCallback", Gate::None, Action::Nothing},
    {"displaySetAllCallbacks", Gate::None, Action::Nothing},
    {"displayGetIsViewable", Gate::None, Action::Nothing},
};
static_assert(std::size(kCommands) == 72);

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The scheme before the first ":" in lower case; "" when the text has none.
std::string schemeOf(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    for (size_t i = 0; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return {};
    }
    return lowerCase(url.substr(0, colon));
}

std::optional<std::string> parameter(const OrbadRichMediaWebAdView::Parameters& parameters, const char* name) {
    auto it = parameters.find(name);
    if (it == parameters.end()) return std::nullopt;
    return it->second;
}

}  // namespace

bool OrbadRichMediaWebAdView::shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                              plat::ui::WebNavigationType type) {
    const std::string& text = request.url;
    const std::string scheme = schemeOf(text);
    if (scheme == "file") return true;
    const Parameters parameters = OrbadRichMediaURLParser::extractParametersFromUrl(text);
    std::optional<std::string> dest;
    std::string destScheme;
    if (auto value = parameter(parameters, "dest")) {
        dest = orbadPercentDecoded(*value);
        destScheme = schemeOf(*dest);
    }
    if (m_adIsRestricted) checkPermissionsForUserInteraction();
    if (text.size() < 3) return false;

    const bool held = m_adIsRestricted && !isAutoplayable();
    const bool click = type == plat::ui::WebNavigationType::LinkClicked;
    if (scheme == "sms" || destScheme == "sms") {
        if (held && !click) return false;
        // A link that carries its address in "dest" texts that address, not the link itself.
        sendSMSFromURI(destScheme == "sms" ? *dest : text);
        return false;
    }
    if (scheme == "tel" || destScheme == "tel") return !held || click;
    if (scheme == "http" || scheme == "https") {
        const auto newWindow = parameter(parameters, "shouldOpenInNewWindow");
        if (newWindow && strcasecmp(newWindow->c_str(), "yes") != 0) return !held || click;
        if (!newWindow && isExpanded()) return true;
        if (held && !click) {
            if (auto host = mainAdView()) host->logInfo("Allowing second web load of URL (likely iframe?) ->" + text + "<- ");
            return true;
        }
        if (!allowNewBrowserModals()) return true;
        openURLInNewWindow(text);
        return false;
    }
    if (text.size() < 6) return false;
    if (scheme == "mailto") {
        if (held && !click) return false;
        if (!plat::sys::hasClass("MFMailComposeViewController")) return true;
        sendEmailFromURI(text);
        return false;
    }
    if (text.size() < 7) return false;
    if (scheme == "madview") {
        handleAdViewURL(text);
        return false;
    }
    evaluate("mAdViewUnknownURLHandler('" + orbadJSQuoted(text) + "');");
    return false;
}

void OrbadRichMediaWebAdView::handleAdViewURL(const std::string& url) {
    const std::string name = OrbadRichMediaURLParser::extractFunctionCallFromURL(url);
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const Command& command) { return command.name == name; });
    if (name.empty() || found == std::end(kCommands)) return;
    const Parameters parameters = OrbadRichMediaURLParser::extractParametersFromUrl(url);
    const bool refused = (found->gate == Gate::Autoplay && m_adIsRestricted && !isAutoplayable()) ||
                         (found->gate == Gate::Interaction && m_adIsRestricted && m_richMediaRequiresUserInteraction) ||
                         found->action == Action::Refused;
    if (refused) return sendPermissionsErrorToCallback(parameter(parameters, "errorCallbackFunctionName"));
    if (found->action == Action::DomReady) injectPermissionsKey();
}

}  // namespace orbad
