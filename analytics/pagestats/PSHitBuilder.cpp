#include "analytics/pagestats/PSHitBuilder.h"

#include <cstdio>

#include "analytics/pagestats/PSGlobalStore.h"
#include "analytics/pagestats/PSUtils.h"
#include "platform/foundation/DeviceFactsFile.h"

namespace {

constexpr const char* kBase = "/__utm.gif";
constexpr const char* kVersion = "4.7mi";

std::string format(const char* fmt, auto... values) {
    int n = std::snprintf(nullptr, 0, fmt, values...);
    if (n <= 0) return "";
    std::string text(static_cast<std::size_t>(n), '\0');
    std::snprintf(text.data(), text.size() + 1, fmt, values...);
    return text;
}

}  // namespace

PSHitBuilder::Device PSHitBuilder::Device::fromFacts(const plat::sys::DeviceFacts& facts) {
    return {static_cast<int>(facts.screenWidth), static_cast<int>(facts.screenHeight),
            PSUtils::systemLanguageFromLanguages(facts.languages), PSUtils::systemCountryFromLocale(facts.locale)};
}

PSHitBuilder::PSHitBuilder() : m_device(Device::fromFacts(plat::foundation::deviceFacts())) {}

std::string PSHitBuilder::constructHitRequestPath(const PSEvent& event, const PSReferrer* referrer) const {
    std::string path;
    if (event.category == kPSPageviewEventCategory)
        path = constructPageviewRequestPath(event);
    else if (event.category == kPSTransactionEventCategory)
        path = constructTransactionRequestPath(event);
    else if (event.category == kPSItemEventCategory)
        path = constructItemRequestPath(event);
    else
        path = constructEventRequestPath(event);
    path += "&utmcc=" + getEscapedCookieString(event, referrer);
    if (event.anonymizeIp) path += "&aip=1";
    path += "&utmht=" + std::to_string(PSUtils::currentTimeMillis());
    return path;
}

std::string PSHitBuilder::head(const PSEvent& event) {
    return std::string(kBase) + "?utmwv=" + kVersion + "&utmn=" + std::to_string(event.randomVal);
}

std::string PSHitBuilder::deviceParams() const {
    return "&utmcs=UTF-8" + format("&utmsr=%dx%d", m_device.width, m_device.height) +
           "&utmsc=24-bit&utmul=" + m_device.language + "-" + m_device.country;
}

std::string PSHitBuilder::constructPageviewRequestPath(const PSEvent& event) const {
    std::string path = head(event) + deviceParams() + "&utmp=" + PSUtils::urlEncodeString(event.action) +
                       "&utmac=" + m_accountID + "&utmhid=" + PSGlobalStore::sharedGlobalStore().hitID();
    std::string variables = customVariableParamsForEvent(event);
    if (!variables.empty()) path += "&utme=" + variables;
    return path;
}

// The fields are x10-escaped like custom variables: a "*", ")", "!" or "'" of their own would
// otherwise split them at the collector.
std::string PSHitBuilder::constructEventRequestPath(const PSEvent& event) const {
    std::string text = "5(";
    text += x10Escape(event.category);
    text += '*';
    text += x10Escape(event.action);
    if (event.label) {
        text += '*';
        text += x10Escape(*event.label);
    }
    text += ')';
    if (event.value >= 0) text += format("(%d)", event.value);
    text += customVariableParamsForEvent(event);
    return head(event) + "&utmt=event&utme=" + PSUtils::urlEncodeString(text) + deviceParams() + "&utmac=" +
           m_accountID + "&utmhid=" + PSGlobalStore::sharedGlobalStore().hitID();
}

std::string PSHitBuilder::constructTransactionRequestPath(const PSEvent& event) const {
    if (!event.transaction) return "";
    const PSTransaction& t = *event.transaction;
    return head(event) + "&utmt=tran&utmtid=" + encodeString(t.orderID) + "&utmtst=" + encodeString(t.storeName) +
           "&utmtto=" + encodeDouble(t.totalCost) + "&utmttx=" + encodeDouble(t.totalTax) +
           "&utmtsp=" + encodeDouble(t.shippingCost) + "&utmtci=&utmtrg=&utmtco=&utmac=" + m_accountID;
}

std::string PSHitBuilder::constructItemRequestPath(const PSEvent& event) const {
    if (!event.item) return "";
    const PSItem& item = *event.item;
    return head(event) + "&utmt=item&utmtid=" + encodeString(item.orderID) + "&utmipc=" + encodeString(item.itemSKU) +
           "&utmipn=" + encodeString(item.itemName) + "&utmiva=" + encodeString(item.itemCategory) +
           "&utmipr=" + encodeDouble(item.itemPrice) + "&utmiqt=" + encodeInt(item.itemCount) +
           "&utmac=" + m_accountID;
}

std::string PSHitBuilder::customVariableParamsForEvent(const PSEvent& event) const {
    if (!event.customVariableBuffer || !event.customVariableBuffer->hasCustomVariables()) return "";
    const PSCustomVariableBuffer& variables = *event.customVariableBuffer;
    return x10ProjectForProjectNumber(8, variables) + x10ProjectForProjectNumber(9, variables) +
           x10ProjectForProjectNumber(11, variables);
}

std::string PSHitBuilder::x10ProjectForProjectNumber(int project, const PSCustomVariableBuffer& variables) {
    std::string text = std::to_string(project) + "(";
    bool first = true;
    for (unsigned slot = 1; slot <= kPSMaxCustomVariables; ++slot) {
        const PSCustomVariable* variable = variables.customVariableAt(slot);
        if (!variable) continue;
        if (!first) text += "*";
        first = false;
        text += std::to_string(slot) + "!";
        if (project == 8)
            text += x10Escape(PSUtils::urlEncodeString(variable->name));
        else if (project == 9)
            text += x10Escape(PSUtils::urlEncodeString(variable->value));
        else
            text += std::to_string(variable->scope);
    }
    return text + ")";
}

std::string PSHitBuilder::x10Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\'': out += "'0"; break;
            case ')': out += "'1"; break;
            case '*': out += "'2"; break;
            case '!': out += "'3"; break;
            default: out += c;
        }
    }
    return out;
}

std::string PSHitBuilder::getEscapedCookieString(const PSEvent& event, const PSReferrer* referrer) {
    std::string cookie = format("__utma=%d.%d.%d.%d.%d.%d;", 1, event.visitorId, event.timestampFirst,
                                event.timestampPrevious, event.timestampCurrent, event.visits);
    if (referrer)
        cookie += format("+__utmz=%d.%d.%d.%d.", 1, referrer->timestamp, referrer->visit, referrer->index) +
                  referrer->referrer + ";";
    return PSUtils::urlEncodeString(cookie);
}

std::string PSHitBuilder::encodeString(const std::optional<std::string>& text) {
    return text ? PSUtils::urlEncodeString(*text) : "";
}

std::string PSHitBuilder::encodeInt(int value) {
    return value == 0 ? "" : std::to_string(value);
}

std::string PSHitBuilder::encodeDouble(double value) {
    return value == 0.0 ? "" : format("%lf", value);
}
