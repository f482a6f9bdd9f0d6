// The query every ad-server request carries, key by key in the order they are set.
#include <charconv>
#include <cstdint>
#include <ctime>

#include "orbad/ads/OrbadAdViewInternal.h"
#include "orbad/core/OBEnvironment.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/DeviceFactsFile.h"
#include "platform/foundation/UTF8.h"
#include "platform/sys/Device.h"
#include "platform/ui/ViewController.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

using Op = OrbadAdViewDelegate::Op;
constexpr size_t kAdSpaceNameUnits = 16;

// The first `units` UTF-16 units of valid UTF-8 text, one fewer when the last would be the first
// half of a surrogate pair.
std::string prefixUTF16(const std::string& text, size_t units) {
    size_t used = 0, at = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    while (at < text.size()) {
        char32_t cp = 0;
        const size_t length = utf8::decode(bytes + at, text.size() - at, &cp);
        if (length == 0) break;
        const size_t need = cp > 0xFFFF ? 2 : 1;
        if (used + need > units) break;
        used += need;
        at += length;
    }
    return text.substr(0, at);
}

// The float's shortest decimal text, as the number's description writes it.
std::string shortestFloat(float value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : "0";
}

std::string birthdayText(double seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&time, &local);
    char buffer[16];
    const size_t n = std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
    return std::string(buffer, n);
}

void setIfValidUTF8(Value::Dictionary& p, const char* key, const std::optional<std::string>& text) {
    if (text && utf8::valid(*text)) p.insert_or_assign(key, Value(*text));
}

void setInRange(Value::Dictionary& p, const char* key, int32_t value, int32_t low, int32_t high) {
    if (value >= low && value <= high) p.insert_or_assign(key, Value(value));
}

}  // namespace

Value::Dictionary OrbadAdViewInternal::buildAdRequestParams(int ordinal, const Value* additionalParameters,
                                                            bool shouldIncludePII) {
    Value::Dictionary p;
    auto set = [&p](const char* key, Value value) { p.insert_or_assign(key, std::move(value)); };
    const plat::sys::DeviceFacts device = plat::foundation::deviceFacts();
    const OBEnvironment* env = m_host ? &m_host->environment() : nullptr;

    if (env) set("i", env->applicationId());
    set("p", OBEnvironment::platformName());
    set("rt", "obnative");
    set("rtv", device.systemVersion);
    if (m_adSize == kOBFullScreenAdSize) {
        set("s", "fullscreen");
    } else {
        set("s", std::to_string(static_cast<int>(m_adSize.width)) + "x" +
                     std::to_string(static_cast<int>(m_adSize.height)));
    }
    set("ap", m_shouldAutoplay);
    set("rm", m_richMediaRequiresUserInteraction);
    set("o", static_cast<uint32_t>(ordinal));
    if (!m_adSpaceName.empty()) set("as", prefixUTF16(m_adSpaceName, kAdSpaceNameUnits));
    if (m_testingMode) set("t", "1");
    if (shouldIncludePII) set("ue", orbadEncode(OBEnvironment::deviceIdentifier()));
    if (plat::sys::versionFloat(device.systemVersion) >= 6.0f)
        set("lt", OBEnvironment::limitTracking() ? "1" : "0");
    // Asked only of a delegate that has both: the address comes with the URL change.
    if (m_delegate && m_delegate->answers(Op::changeAdURL) && m_delegate->answers(Op::getOverrideIPAddress)) {
        if (std::optional<std::string> ip = m_delegate->getOverrideIPAddress(); ip && *ip != "None")
            set("ip", *ip);
    }
    if (env) {
        set("ct", env->connectionType());
        set("dm", env->deviceType());
    }

    // Portrait numbers for a portrait controller; swapped for any other, or none.
    const auto width = static_cast<uint32_t>(device.screenWidth),
               height = static_cast<uint32_t>(device.screenHeight);
    const plat::ui::ViewController* controller = viewController();
    const int orientation = controller ? controller->interfaceOrientation() : 0;
    const bool portrait = orientation == 1 || orientation == 2;
    set("sh", portrait ? height : width);
    set("sw", portrait ? width : height);
    set("sd", shortestFloat(static_cast<float>(device.screenScale)));
    if (env) set("av", env->applicationVersion());
    set("v", kOrbadLibraryVersion);
    set("sv", device.systemVersion);

    const OrbadDemographicsRecord demo = m_host ? m_host->demographics() : OrbadDemographicsRecord{};
    const std::optional<plat::foundation::Date> birthday = m_host ? m_host->birthday() : std::nullopt;
    if (demo.dac != 0) set("c", demo.dac);
    setIfValidUTF8(p, "ci", demo.dci);
    if (demo.dco)
        setIfValidUTF8(p, "co", demo.dco);
    else if (env && env->isoCountryCode())
        set("co", *env->isoCountryCode());
    if (env) set("ll", env->location());
    if (demo.ddc != 0) set("dc", demo.ddc);
    if (demo.dmc != 0) set("mc", demo.dmc);
    setIfValidUTF8(p, "re", demo.drg);
    setIfValidUTF8(p, "z", demo.dpo);
    if (env && env->mobileCountryCode()) set("mcc", *env->mobileCountryCode());
    if (env && env->mobileNetworkCode()) set("mnc", *env->mobileNetworkCode());
    if (birthday) set("d", birthdayText(birthday->seconds));
    setInRange(p, "e", demo.dec, 1, 6);
    setInRange(p, "r", demo.den, 1, 6);
    setInRange(p, "g", demo.dg, 1, 2);
    setInRange(p, "db", demo.ddg, 1, 3);
    if (demo.dic != 0) set("m", demo.dic);
    setInRange(p, "x", demo.dms, 1, 3);
    setInRange(p, "j", demo.drl, 1, 7);

    if (additionalParameters && additionalParameters->dictionary()) {
        for (const auto& [key, value] : *additionalParameters->dictionary())
            if (!value.isNull()) p.insert_or_assign(key, value);
    }
    if (m_delegate && m_delegate->answers(Op::obKeywords)) {
        if (std::optional<std::string> keywords = m_delegate->obKeywords()) set("k", *keywords);
    }
    if (m_delegate && m_delegate->answers(Op::query)) {
        if (std::optional<std::string> query = m_delegate->query()) set("q", *query);
    }

    // The request hooks: the first that gives an answer ends them.
    OrbadAdView* view = m_externalAdView;
    if (m_hasRequestAdURLCallback && m_delegate && m_delegate->answers(Op::requestedAdUrlForAdView)) {
        std::optional<std::string> url = m_delegate->requestedAdUrlForAdView(view);
        if (url != "") {
            if (url) set("adurl", *url);
            return p;
        }
    }
    if (m_hasRequestCreativeCallback && m_delegate && m_delegate->answers(Op::requestedCreativeForAdView)) {
        if (std::optional<std::string> creative = m_delegate->requestedCreativeForAdView(view);
            creative && !creative->empty()) {
            set("cr", *creative);
            p.erase("i");
            p.erase("adurl");
            return p;
        }
    }
    if (m_hasRequestVeltiMediaCallback && m_delegate && m_delegate->answers(Op::requestedVeltiMediaURL)) {
        std::optional<std::string> url = m_delegate->requestedVeltiMediaURL(view);
        if (url != "" && url) set("adurl", *url);
    }
    return p;
}

}  // namespace orbad
