// The content-ads session open, sent on every activation.
#pragma once

#include <memory>
#include <string>

class KSPublisherOpenRequest {
    struct Token {};

public:
    static std::shared_ptr<KSPublisherOpenRequest> requestForApp(std::string token, std::string secret);
    KSPublisherOpenRequest(Token, std::string token, std::string secret);

    // Asynchronous; failures stay inside the client.
    void send();

private:
    std::string m_token;
    std::string m_secret;
};
