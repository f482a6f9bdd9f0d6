#include "kiosk/content/KSPurchase.h"

#include <cmath>
#include <memory>

#include "kiosk/KSContentView.h"
#include "kiosk/KSStringUtil.h"
#include "kiosk/content/KSPublisherContentRequest.h"

namespace {

// "%@" of an item's value; nil when missing.
std::optional<std::string> itemText(const KSJsonObject& item, std::string_view key) {
    return KSAgnosticStringValue(item.find(key));
}

std::string signed_(const KSJsonObject& item, std::string_view key) {
    return itemText(item, key).value_or("(null)");
}

std::int64_t integerValue(const KSJsonObject& item, std::string_view key) {
    const KSJsonValue* value = item.find(key);
    if (const std::int64_t* n = value ? value->integer() : nullptr) return *n;
    double v = kiosk::floatValue(value);
    return std::isfinite(v) ? static_cast<std::int64_t>(v) : 0;
}

bool signatureMatches(const KSJsonObject& item, const std::string& text) {
    const KSJsonValue* signature = item.find("signature");
    const std::string* given = signature ? signature->string() : nullptr;
    // Exactly: an upper-case digest is a different text.
    return given && *given == KSStringUtil::hexDigestForString(text);
}

}  // namespace

std::string KSPurchase::stringForResolution(int code) {
    switch (code) {
        case 0:
            return "buy";
        case 1:
            return "cancel";
        case 3:
            return "failure";
        default:
            return "error";
    }
}

void KSPurchase::reportResolution(int code) const {
    KSJsonObject response;
    response.set("resolution", stringForResolution(code));
    KSJsonObject reply;
    if (callback) reply.set("callback", *callback);
    reply.set("response", std::move(response));
    KSContentView::postCallback(reply);
}

bool KSPublisherContentRequest::isValidReward(const KSJsonObject& item) const {
    std::string text = signed_(item, "reward") + ":" + signed_(item, "quantity") + ":" + KSGID() + ":" +
                       signed_(item, "receipt") + ":" + secret();
    return signatureMatches(item, text);
}

bool KSPublisherContentRequest::isValidPurchase(const KSJsonObject& item) const {
    std::string text = signed_(item, "product") + ":" + signed_(item, "name") + ":" +
                       signed_(item, "quantity") + ":" + KSGID() + ":" + signed_(item, "receipt") + ":" +
                       secret();
    return signatureMatches(item, text);
}

void KSPublisherContentRequest::requestRewards(const KSJsonObject* context,
                                               const std::optional<std::string>& callback,
                                               KSContentView& source) {
    auto self = shared_from_this();
    const KSJsonValue* rewards = context ? context->find("rewards") : nullptr;
    if (const KSJsonArray* items = rewards ? rewards->array() : nullptr) {
        for (const KSJsonValue& value : *items) {
            const KSJsonObject* item = value.object();
            if (!item || !isValidReward(*item)) continue;
            KSReward reward;
            reward.name = signed_(*item, "reward");
            reward.quantity = integerValue(*item, "quantity");
            reward.receipt = signed_(*item, "receipt");
            if (answers(KSPublisherContentRequestDelegate::kUnlockedReward))
                m_delegate->requestUnlockedReward(*this, reward);
        }
    }
    source.sendCallback(callback, nullptr, nullptr);
}

void KSPublisherContentRequest::requestPurchases(const KSJsonObject* context,
                                                 const std::optional<std::string>& callback, KSContentView&) {
    auto self = shared_from_this();
    const KSJsonValue* purchases = context ? context->find("purchases") : nullptr;
    const KSJsonArray* items = purchases ? purchases->array() : nullptr;
    if (!items) return;
    for (const KSJsonValue& value : *items) {
        const KSJsonObject* item = value.object();
        if (!item || !isValidPurchase(*item)) continue;
        auto purchase = std::make_shared<KSPurchase>();
        purchase->productIdentifier = itemText(*item, "product");
        purchase->name = itemText(*item, "name");
        purchase->quantity = integerValue(*item, "quantity");
        purchase->receipt = itemText(*item, "receipt");
        purchase->callback = callback;
        if (answers(KSPublisherContentRequestDelegate::kMakePurchase))
            m_delegate->requestMakePurchase(*this, purchase);
    }
}
