// The client's session opening, sent once at launch with the game's token and secret. Stand-in:
// traces "svc kiosk open <token>" (never the secret) and returns.
#pragma once

#include <string>

class KSPublisherOpenRequest {
public:
    KSPublisherOpenRequest(std::string token, std::string secret)
        : m_token(std::move(token)), m_secret(std::move(secret)) {}
    void send();

private:
    std::string m_token;
    std::string m_secret;
};
