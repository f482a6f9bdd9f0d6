#include "kiosk/KSContentBridge.h"

#include "kiosk/KSJsonWriter.h"

namespace kiosk {

std::optional<std::string> callAddress(const std::string& url) {
    std::size_t colon = url.find(':');
    if (colon == std::string::npos || url.compare(colon, 3, "://") != 0) return std::nullopt;
    std::size_t hostStart = colon + 3;
    std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    if (hostEnd == hostStart) return std::nullopt;
    std::size_t pathEnd = url.find_first_of("?#", hostEnd);
    if (pathEnd == std::string::npos) pathEnd = url.size();
    return url.substr(0, colon) + "://" + url.substr(hostStart, hostEnd - hostStart) +
           url.substr(hostEnd, pathEnd - hostEnd);
}

namespace {

std::string jsonText(const KSJsonValue* value) {
    if (!value || value->isNull()) return "null";
    if (value->isContainer()) return KSJsonWriter().stringWithObject(*value).value_or("null");
    KSJsonArray wrapped{*value};
    std::string text = KSJsonWriter().stringWithObject(KSJsonValue(wrapped)).value_or("[null]");
    return text.substr(1, text.size() - 2);
}

}  // namespace

std::string callbackScript(const std::optional<std::string>& callbackId, const KSJsonValue* response,
                           const KSJsonValue* error) {
    // Written as a JSON string, which JavaScript reads as the same literal: an id taken from the
    // page's address cannot end it early.
    KSJsonValue idValue(callbackId ? *callbackId : std::string("null"));
    std::string id = jsonText(&idValue);
    return "var KioskAPICallback = (window[\"KioskAPICallback\"])? KioskAPICallback : "
           "function(c,r,e){try{Kiosk.nativeAPI.callback(c,r,e);return \"OK\";}catch(err){ return "
           "JSON.stringify(err);}}; KioskAPICallback(" +
           id + "," + jsonText(response) + "," + jsonText(error) + ")";
}

}  // namespace kiosk
