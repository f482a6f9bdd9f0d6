// What a content template grants or offers: a reward, handed over at once, and a purchase, whose
// resolution the host reports later to every content view on screen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class KSReward {
public:
    std::string name;
    std::int64_t quantity = 0;
    std::string receipt;
};

class KSPurchase {
public:
    // "buy", "cancel", "error", "failure" for 0-3; any other code "error".
    static std::string stringForResolution(int code);
    // Posts the reply to the template's call, {"callback", "response": {"resolution"}}, to every
    // content view on screen.
    void reportResolution(int code) const;

    std::optional<std::string> productIdentifier;
    std::optional<std::string> name;
    std::optional<std::string> receipt;
    std::optional<std::string> callback;
    std::int64_t quantity = 0;
};
