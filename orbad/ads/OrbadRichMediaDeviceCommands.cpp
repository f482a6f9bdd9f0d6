// The page's questions about the device: facts, capabilities, the connection type and orientation
// events. A desktop lacks most of the hardware: what it has not answers as a device without it.
#include <charconv>

#include "orbad/ads/OrbadRichMediaDeviceState.h"
#include "orbad/core/OBEnvironment.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/services/devices/MediaServices.h"
#include "platform/services/devices/SensorServices.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/sys/Device.h"

namespace orbad {

using plat::foundation::RunLoop;

namespace {

constexpr double kConnectionQueryTimeout = 15;
constexpr const char* kConnectionUnknownError =
    "ERROR: An unknown error occurred while attempting to determine connection type";

constexpr auto parameter = &OrbadRichMediaURLParser::parameter;

std::optional<std::string> cbOf(const OrbadRichMediaWebAdView::Parameters& parameters) {
    return parameter(parameters, "callbackFunctionName");
}

const char* deviceOrientationName(int orientation) {
    switch (orientation) {
        case 1: return "Portrait";
        case 2: return "PortraitUpsideDown";
        case 3: return "LandscapeLeft";
        case 4: return "LandscapeRight";
        case 5: return "FaceUp";
        case 6: return "FaceDown";
        default: return "Unknown";
    }
}

// The interface names the two landscapes the other way round.
const char* interfaceOrientationName(int orientation) {
    switch (orientation) {
        case 1: return "Portrait";
        case 2: return "PortraitUpsideDown";
        case 3: return "LandscapeRight";
        case 4: return "LandscapeLeft";
        default: return "Unknown";
    }
}

}  // namespace

bool orbadHasDeviceClass(const char* name) {
    plat::devices::registerSensorClasses();
    return plat::sys::hasClass(name);
}

std::string orbadFormatF(double value) {
    char text[400];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return ec == std::errc() ? std::string(text, end) : std::string("0.000000");
}

void OrbadRichMediaWebAdView::DeviceStateDeleter::operator()(DeviceState* state) const {
    delete state;
}

OrbadRichMediaWebAdView::DeviceState& OrbadRichMediaWebAdView::deviceState() {
    if (!m_deviceState) m_deviceState.reset(new DeviceState(*this));
    return *m_deviceState;
}

// ---- facts ----

namespace {

void answerText(OrbadRichMediaWebAdView& view, const OrbadRichMediaWebAdView::Parameters& parameters,
                const std::string& text) {
    if (auto cb = cbOf(parameters)) view.callback(*cb, text);
}

}  // namespace

void OrbadRichMediaWebAdView::commandDeviceBatteryState(const Parameters& parameters) {
    const auto cb = cbOf(parameters);
    if (!cb) return;
    plat::sys::Device& device = plat::sys::Device::current();
    const bool monitoring = device.isBatteryMonitoringEnabled();
    device.setBatteryMonitoringEnabled(true);
    const double level = plat::foundation::deviceFacts().batteryLevel;
    device.setBatteryMonitoringEnabled(monitoring);
    evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(*cb) + "', " + orbadFormatF(level) + ");");
}

void OrbadRichMediaWebAdView::commandDeviceUniqueId(const Parameters& parameters) {
    answerText(*this, parameters, OBEnvironment::deviceIdentifier());
}

void OrbadRichMediaWebAdView::commandDeviceModel(const Parameters& parameters) {
    answerText(*this, parameters, plat::foundation::deviceFacts().model);
}

void OrbadRichMediaWebAdView::commandDeviceSystemVersion(const Parameters& parameters) {
    answerText(*this, parameters, plat::foundation::deviceFacts().systemVersion);
}

void OrbadRichMediaWebAdView::commandDeviceHardwareModel(const Parameters& parameters) {
    auto host = mainAdView();
    answerText(*this, parameters, host ? host->deviceModel() : std::string());
}

void OrbadRichMediaWebAdView::commandDeviceLanguage(const Parameters& parameters) {
    const std::string locale = plat::foundation::deviceFacts().locale;
    answerText(*this, parameters, locale.substr(0, locale.find_first_of("_-")));
}

void OrbadRichMediaWebAdView::commandDeviceLocale(const Parameters& parameters) {
    answerText(*this, parameters, plat::foundation::deviceFacts().locale);
}

void OrbadRichMediaWebAdView::commandDeviceScalingFactor(const Parameters& parameters) {
    if (auto cb = cbOf(parameters))
        evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(*cb) + "', " +
                 orbadFormatF(plat::foundation::deviceFacts().screenScale) + ");");
}

void OrbadRichMediaWebAdView::commandDevicePlatform(const Parameters& parameters) {
    answerText(*this, parameters, plat::foundation::deviceFacts().systemName);
}

void OrbadRichMediaWebAdView::commandDeviceScreenSize(const Parameters& parameters) {
    const auto cb = cbOf(parameters);
    if (!cb) return;
    const plat::sys::DeviceFacts facts = plat::foundation::deviceFacts();
    evaluate("mAdViewCallbackHandler('" + orbadJSQuoted(*cb) + "', " + orbadFormatF(facts.screenWidth) + ", " +
             orbadFormatF(facts.screenHeight) + ");");
}

void OrbadRichMediaWebAdView::commandDeviceInterfaceOrientation(const Parameters& parameters) {
    auto host = mainAdView();
    answerText(*this, parameters, interfaceOrientationName(host ? host->interfaceOrientation() : 0));
}

void OrbadRichMediaWebAdView::commandDeviceCurrentOrientation(const Parameters& parameters) {
    plat::sys::Device& device = plat::sys::Device::current();
    device.beginGeneratingDeviceOrientationNotifications();
    const int orientation = device.orientation();
    device.endGeneratingDeviceOrientationNotifications();
    answerText(*this, parameters, deviceOrientationName(orientation));
}

void OrbadRichMediaWebAdView::commandSetDeviceOrientationChangeCallback(const Parameters& parameters) {
    m_orientationCallback = cbOf(parameters);
}

void OrbadRichMediaWebAdView::deviceOrientationDidChange() {
    if (m_orientationCallback)
        callback(*m_orientationCallback, deviceOrientationName(plat::sys::Device::current().orientation()));
}

// ---- capabilities ----

namespace {

void answerAvailable(OrbadRichMediaWebAdView& view, const OrbadRichMediaWebAdView::Parameters& parameters,
                     bool available) {
    if (auto cb = cbOf(parameters))
        view.stringByEvaluatingJavaScript("mAdViewCallbackHandler('" + orbadJSQuoted(*cb) + "', " +
                                          (available ? "1" : "0") + ");");
}

}  // namespace

void OrbadRichMediaWebAdView::commandDeviceAccelerometerAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters,
                    orbadHasDeviceClass(plat::devices::kMotionManagerClassName) ||
                        orbadHasDeviceClass(plat::devices::kAccelerometerClassName));
}

void OrbadRichMediaWebAdView::commandDeviceGyroscopeAvailable(const Parameters& parameters) {
    bool available = false;
    if (orbadHasDeviceClass(plat::devices::kMotionManagerClassName)) {
        DeviceState& state = deviceState();
        if (!state.motionManager) state.motionManager = std::make_unique<plat::devices::MotionManager>();
        available = state.motionManager->isGyroAvailable();
    }
    answerAvailable(*this, parameters, available);
}

// The same question as the gyroscope's, as the platform's own bridge asks it.
void OrbadRichMediaWebAdView::commandDeviceDeviceMotionAvailable(const Parameters& parameters) {
    commandDeviceGyroscopeAvailable(parameters);
}

void OrbadRichMediaWebAdView::commandDeviceGPSAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, orbadHasDeviceClass(plat::devices::kLocationManagerClassName));
}

void OrbadRichMediaWebAdView::commandDeviceMagnetometerAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters,
                    orbadHasDeviceClass(plat::devices::kLocationManagerClassName) &&
                        plat::devices::LocationManager::headingAvailable());
}

// The camera, the torch and the composers: the media stand-ins, each there only with its service file.
void OrbadRichMediaWebAdView::commandDeviceCameraAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, plat::devices::cameraSource().has_value());
}

// The stand-in's device has both a torch and a flash.
void OrbadRichMediaWebAdView::commandDeviceFlashlightAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, plat::devices::CaptureDevice::defaultVideoDevice() != nullptr);
}

void OrbadRichMediaWebAdView::commandDeviceNeverAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, false);
}

void OrbadRichMediaWebAdView::commandDeviceVibrateAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, plat::foundation::deviceFacts().model == "iPhone");
}

void OrbadRichMediaWebAdView::commandDeviceEmailAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, plat::devices::canSendMail());
}

void OrbadRichMediaWebAdView::commandDeviceSMSAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, plat::devices::canSendText());
}

void OrbadRichMediaWebAdView::commandDeviceShakeListeningAvailable(const Parameters& parameters) {
    answerAvailable(*this, parameters, plat::sys::versionFloat(plat::foundation::deviceFacts().systemVersion) >= 3.0f);
}

// ---- the connection type ----
//
// Each query is a generation of its own: a new one drops the earlier one's reachability, timer and
// observation, so nothing of it can answer the new one; a query answered at once arms no timer; the
// answer ends the observation.

void OrbadRichMediaWebAdView::commandDeviceConnectionType(const Parameters& parameters) {
    DeviceState& state = deviceState();
    state.reachabilitySuccess = parameter(parameters, "successCallbackFunctionName");
    state.reachabilityError = parameter(parameters, "errorCallbackFunctionName");
    state.getConnectionType();
}

void OrbadRichMediaWebAdView::DeviceState::getConnectionType() {
    const unsigned generation = ++query;
    reachabilityTimer.invalidate();
    reachabilityObservation.remove();
    if (reachability) reachability->stopNotifier();
    reachability = OrbadReachability::reachabilityForInternetConnection();
    if (reachability) {
        reachabilityObservation = plat::foundation::NotificationCenter::defaultCenter().observe(
            kNetworkReachabilityChangedNotification, reachability.get(),
            [this, generation](const plat::foundation::Notification&) { reachabilityChanged(generation); });
        reachability->startNotifier();
    }
    reachabilityChanged(generation);
    if (query == generation && reachability)
        reachabilityTimer = RunLoop::main().addTimer(kConnectionQueryTimeout, [this, generation] {
            finishConnectionQuery(generation, std::string("none"));
        });
}

void OrbadRichMediaWebAdView::DeviceState::reachabilityChanged(unsigned generation) {
    if (generation != query) return;
    if (!reachability) {
        const auto error = reachabilityError;
        finishConnectionQuery(generation, std::nullopt);
        if (error) view.callback(*error, kConnectionUnknownError);
        return;
    }
    switch (reachability->currentReachabilityStatus()) {
        case ReachableViaWWAN: return finishConnectionQuery(generation, std::string("carrier"));
        case ReachableViaWiFi: return finishConnectionQuery(generation, std::string("wifi"));
        case NotReachable: return;
    }
}

void OrbadRichMediaWebAdView::DeviceState::finishConnectionQuery(unsigned generation,
                                                                 const std::optional<std::string>& answer) {
    if (generation != query) return;
    ++query;
    const auto success = std::move(reachabilitySuccess);
    reachabilitySuccess.reset();
    reachabilityError.reset();
    reachabilityTimer.invalidate();
    reachabilityObservation.remove();
    if (reachability) {
        reachability->stopNotifier();
        // The answer may come from inside the reachability's own report: it goes on a later turn.
        std::shared_ptr<OrbadReachability> done(std::move(reachability));
        RunLoop::main().perform([done] {});
    }
    if (answer && success) view.callback(*success, *answer);
}

}  // namespace orbad
