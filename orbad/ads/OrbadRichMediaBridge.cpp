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

enum class Gate { None, Interaction, Autoplay, Refused };
using Handler = void (OrbadRichMediaWebAdView::*)(const OrbadRichMediaWebAdView::Parameters&);

struct Command {
    std::string_view name;
    Gate gate;
    Handler handler;  // null: the row passes its gate and does nothing
};

using V = OrbadRichMediaWebAdView;

// Every command name the page may send, with its gate and what it does once through.
constexpr Command kCommands[] = {
    {"domReady", Gate::None, &V::commandDomReady},
    {"deviceBatteryState", Gate::None, &V::commandDeviceBatteryState},
    {"deviceUniqueId", Gate::None, &V::commandDeviceUniqueId},
    {"deviceModel", Gate::None, &V::commandDeviceModel},
    {"deviceSystemVersion", Gate::None, &V::commandDeviceSystemVersion},
    {"deviceHardwareModel", Gate::None, &V::commandDeviceHardwareModel},
    {"deviceConnectionType", Gate::None, &V::commandDeviceConnectionType},
    {"deviceLanguage", Gate::None, &V::commandDeviceLanguage},
    {"deviceLocale", Gate::None, &V::commandDeviceLocale},
    {"deviceScalingFactor", Gate::None, &V::commandDeviceScalingFactor},
    {"devicePlatform", Gate::None, &V::commandDevicePlatform},
    {"deviceScreenSize", Gate::None, &V::commandDeviceScreenSize},
    {"deviceScreenDensity", Gate::None, nullptr},
    {"deviceInterfaceOrientation", Gate::None, &V::commandDeviceInterfaceOrientation},
    {"deviceCurrentOrientation", Gate::None, &V::commandDeviceCurrentOrientation},
    {"setDeviceOrientationChangeCallback", Gate::None, &V::commandSetDeviceOrientationChangeCallback},
    {"deviceSetCloseWidgetButtonPosition", Gate::None, &V::commandSetCloseWidgetButtonPosition},
    {"deviceNotifyCloseWidgetButtonImageChanged", Gate::None, &V::commandNotifyCloseWidgetButtonImageChanged},
    {"deviceAccelerometerAvailable", Gate::None, &V::commandDeviceAccelerometerAvailable},
    {"deviceGyroscopeAvailable", Gate::None, &V::commandDeviceGyroscopeAvailable},
    {"deviceDeviceMotionAvailable", Gate::None, &V::commandDeviceDeviceMotionAvailable},
    {"deviceGPSAvailable", Gate::None, &V::commandDeviceGPSAvailable},
    {"deviceMagnetometerAvailable", Gate::None, &V::commandDeviceMagnetometerAvailable},
    {"deviceCameraAvailable", Gate::None, &V::commandDeviceCameraAvailable},
    {"deviceFlashlightAvailable", Gate::None, &V::commandDeviceFlashlightAvailable},
    {"deviceCalendarReadAvailable", Gate::None, &V::commandDeviceNeverAvailable},
    {"deviceCalendarWriteAvailable", Gate::None, &V::commandDeviceNeverAvailable},
    {"deviceContactsWriteAvailable", Gate::None, &V::commandDeviceNeverAvailable},
    {"deviceVibrateAvailable", Gate::None, &V::commandDeviceVibrateAvailable},
    {"deviceEmailAvailable", Gate::None, &V::commandDeviceEmailAvailable},
    {"deviceSMSAvailable", Gate::None, &V::commandDeviceSMSAvailable},
    {"deviceShakeListeningAvailable", Gate::None, &V::commandDeviceShakeListeningAvailable},
    {"deviceStartShakeListening", Gate::None, &V::commandDeviceStartShakeListening},
    {"deviceStopShakeListening", Gate::None, &V::commandDeviceStopShakeListening},
    {"deviceStartOrientationChangeListening", Gate::None, nullptr},
    {"deviceStopOrientationChangeListening", Gate::None, nullptr},
    {"deviceFlashlightOn", Gate::Interaction, &V::commandDeviceFlashlightOn},
    {"deviceFlashlightOff", Gate::Interaction, &V::commandDeviceFlashlightOff},
    {"deviceVibrate", Gate::Interaction, &V::commandDeviceVibrate},
    {"deviceAlert", Gate::Autoplay, &V::commandDeviceAlert},
    {"accelerometerStart", Gate::None, &V::commandAccelerometerStart},
    {"accelerometerStop", Gate::None, &V::commandAccelerometerStop},
    {"gyroscopeStart", Gate::None, &V::commandGyroscopeStart},
    {"gyroscopeStop", Gate::None, &V::commandGyroscopeStop},
    {"deviceMotionStart", Gate::None, &V::commandDeviceMotionStart},
    {"deviceMotionStop", Gate::None, &V::commandDeviceMotionStop},
    {"gpsStart", Gate::None, &V::commandGpsStart},
    {"gpsStop", Gate::None, &V::commandGpsStop},
    {"magnetometerStart", Gate::None, &V::commandMagnetometerStart},
    {"magnetometerStop", Gate::None, &V::commandMagnetometerStop},
    {"cameraTakePhoto", Gate::Autoplay, &V::commandCameraTakePhoto},
    {"calendarAddEvent", Gate::Refused, nullptr},
    {"calendarGetCalendars", Gate::Refused, nullptr},
    {"calendarQueryEvents", Gate::Refused, nullptr},
    {"contactsAddContact", Gate::Refused, nullptr},
    {"contactsAddVCard", Gate::None, nullptr},
    {"contactsGetContact", Gate::Refused, nullptr},
    {"mediaQuerySongs", Gate::Autoplay, &V::commandMediaQuerySongs},
    {"mediaGetImage", Gate::Refused, nullptr},
    {"mediaSendImage", Gate::Refused, nullptr},
    {"displayResizeTo", Gate::Autoplay, &V::commandDisplayResizeTo},
    {"displayExpandToFullScreen", Gate::Autoplay, &V::commandDisplayExpandToFullScreen},
    {"displayContractAd", Gate::None, &V::commandDisplayContractAd},
    {"displaySetAdFinishedResizingCallback", Gate::None, &V::commandDisplaySetAdFinishedResizingCallback},
    {"displaySetAdWillContractCallback", Gate::None, &V::commandDisplaySetAdWillContractCallback},
    {"displaySetAdWillTerminateCallback", Gate::None, &V::commandDisplaySetAdWillTerminateCallback},
    {"displaySetAdWillBecomeHiddenCallback", Gate::None, &V::commandDisplaySetAdWillBecomeHiddenCallback},
    {"displaySetAdDidReturnFromHiddenCallback", Gate::None, &V::commandDisplaySetAdDidReturnFromHiddenCallback},
    {"displaySetAdDidDisplayCallback", Gate::None, &V::commandDisplaySetAdDidDisplayCallback},
    {"displaySetAdHasBeenDismissedCallback", Gate::None, &V::commandDisplaySetAdHasBeenDismissedCallback},
    {"displaySetAllCallbacks", Gate::None, &V::commandDisplaySetAllCallbacks},
    {"displayGetIsViewable", Gate::None, &V::commandDisplayGetIsViewable},
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

constexpr auto parameter = &OrbadRichMediaURLParser::parameter;

// Whether `url` (scheme "file") names the page file `page`, whatever its query or fragment: the
// one local file the ad's page may be.
bool isPageFile(std::string_view url, const std::string& page) {
    if (page.empty() || url.size() < 7 || lowerCase(url.substr(0, 7)) != "file://") return false;
    std::string_view rest = url.substr(7);
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.starts_with("localhost/")) rest.remove_prefix(9);
    return orbadPercentDecoded(rest) == page;
}

}  // namespace

bool OrbadRichMediaWebAdView::shouldStartLoad(plat::ui::WebView&, const plat::ui::WebRequest& request,
                                              plat::ui::WebNavigationType type) {
    const std::string& text = request.url;
    const std::string scheme = schemeOf(text);
    // The ad's own page; any other local file is refused as an unknown address.
    if (scheme == "file" && isPageFile(text, cacheLocation())) return true;
    const Parameters parameters = OrbadRichMediaURLParser::extractParametersFromUrl(text);
    std::optional<std::string> dest;
    std::string destScheme;
    if (auto value = parameter(parameters, "dest")) {
        dest = orbadPercentDecoded(*value);
        destScheme = schemeOf(*dest);
    }
    const bool click = type == plat::ui::WebNavigationType::LinkClicked;
    if (click) userDidInteract();
    if (text.size() < 3) return false;

    const bool held = m_adIsRestricted && !isAutoplayable();
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
                         found->gate == Gate::Refused;
    if (refused) return sendPermissionsErrorToCallback(parameter(parameters, "errorCallbackFunctionName"));
    if (found->handler) (this->*found->handler)(parameters);
}

void OrbadRichMediaWebAdView::commandDomReady(const Parameters&) {
    injectPermissionsKey();
}

}  // namespace orbad
