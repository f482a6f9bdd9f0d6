#include "player/plugins/inapppurchase/DKReceiptVerification.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/foundation/Log.h"
#include "platform/net/Servers.h"
#include "platform/net/URLLoading.h"
#include "platform/util/DKCrypto.h"
#include "player/plugins/DKJSONTree.h"

namespace dk::player {

namespace {

plat::foundation::TraceCategory kVerifyTrace("iap");

// A whole decimal integer that an int holds: "-"? digits, nothing else.
std::optional<int> integerText(const char* text) {
    if (!text) return std::nullopt;
    const char* digits = *text == '-' ? text + 1 : text;
    if (*digits < '0' || *digits > '9') return std::nullopt;
    for (const char* c = digits; *c; ++c)
        if (*c < '0' || *c > '9') return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(text, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

const char* fieldText(yajl_val value) {
    if (YAJL_IS_STRING(value)) return YAJL_GET_STRING(value);
    if (YAJL_IS_NUMBER(value)) return YAJL_GET_NUMBER(value);
    return nullptr;
}

}  // namespace

ReceiptAnswer readReceiptAnswer(std::string_view body) {
    ReceiptAnswer answer;
    const DKJSONTree json(body);
    if (!YAJL_IS_OBJECT(json.root())) return answer;
    yajl_val status = DKJSONTree::member(json.root(), "status");
    if (YAJL_IS_INTEGER(status))
        answer.status = integerText(YAJL_GET_NUMBER(status));
    else if (YAJL_IS_STRING(status))
        answer.status = integerText(YAJL_GET_STRING(status));
    if (yajl_val receipt = DKJSONTree::member(json.root(), "receipt"); YAJL_IS_OBJECT(receipt))
        for (size_t i = 0; i < YAJL_GET_OBJECT(receipt)->len; ++i)
            if (const char* field = fieldText(YAJL_GET_OBJECT(receipt)->values[i]))
                answer.receipt.emplace(YAJL_GET_OBJECT(receipt)->keys[i], field);
    return answer;
}

std::string receiptRequestBody(const plat::foundation::Data& receipt) {
    return "{\"receipt-data\":\"" + DKCrypto::encodeBase64(receipt, 0) + "\"}";
}

ReceiptAnswer verifyReceipt(const plat::foundation::Data& receipt, bool production, double timeout) {
    plat::net::Request request;
    request.url =
        production
            ? plat::net::serverURL(kVerifyProductionServer, kVerifyProductionFallback, "/verifyReceipt")
            : plat::net::serverURL(kVerifySandboxServer, kVerifySandboxFallback, "/verifyReceipt");
    request.method = "POST";
    request.setBody(receiptRequestBody(receipt));
    // The platform's loader gives a body sent without a type this one; ours sends none by itself.
    request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
    request.timeout = timeout;
    plat::foundation::tracef(kVerifyTrace, "verify %s", request.url.c_str());

    // Bounded as a whole: a server that trickles a byte now and then cannot hold the game either.
    const plat::net::SyncResult result = plat::net::sendSynchronous(request, {}, timeout);
    if (result.error) {
        plat::foundation::tracef(kVerifyTrace, "verify failed %d %s", result.error->code,
                                 result.error->message.c_str());
        return {};
    }
    const std::string body(result.data.begin(), result.data.end());
    ReceiptAnswer answer = readReceiptAnswer(body);
    plat::foundation::trace(kVerifyTrace, [&] {
        return answer.status ? "verify status " + std::to_string(*answer.status)
                             : std::string("verify no answer");
    });
    return answer;
}

}  // namespace dk::player
