// The store's receipt verification: one POST of the receipt, waited for on the calling thread,
// and the reading of the answer.
//
// The one file that knows yajl in the plugin. It POSTs {"receipt-data":"<Base64>"} to BASE/verifyReceipt,
// BASE the server "iap.verify.production" or "iap.verify.sandbox" (release mode: no profile or an app
// store one), with the form content type the platform's loader gives an untyped body, on a private
// real-time loop bounded as a whole by 60 s (DROVIK_VERIFY_TIMEOUT may shorten it); traced under
// "iap". Only a JSON object whose "status" is an integer (number or numeric string) is an answer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace dk::player {

inline constexpr const char* kVerifyProductionServer = "iap.verify.production";
inline constexpr const char* kVerifySandboxServer = "iap.verify.sandbox";
inline constexpr const char* kVerifyProductionFallback = "https://buy.itunes.apple.com";
inline constexpr const char* kVerifySandboxFallback = "https://sandbox.itunes.apple.com";
inline constexpr double kVerifyTimeout = 60.0;

struct ReceiptAnswer {
    // Set only for a definite answer: a JSON object whose "status" is an integer (a JSON number
    // or a numeric string). Anything else (no response, a time-out, HTML, no "status") is none.
    std::optional<int> status;
    // The "receipt" object's fields that are strings or numbers, as their text (numbers as written).
    std::map<std::string, std::string> receipt;
};

// Reads a verification answer's body.
ReceiptAnswer readReceiptAnswer(std::string_view body);

// The request's body: {"receipt-data":"<Base64 on one line>"}.
std::string receiptRequestBody(const plat::foundation::Data& receipt);

// POSTs the receipt to BASE/verifyReceipt, BASE the production or the sandbox server's base, and
// waits at most `timeout` seconds of real time in all (whatever the server trickles); the run
// loop of the caller does not turn meanwhile.
ReceiptAnswer verifyReceipt(const plat::foundation::Data& receipt, bool production,
                            double timeout = kVerifyTimeout);

}  // namespace dk::player
