// A POST signed with an account's OAuth credentials (the platform's signed request), and the
// service's two status endpoints, shared by the compose sheet and the plugins.
//
// Form parameters are signed, multipart parts not; nonce and time come from makeOAuthStamp
// (replaceable in tests). The request is sent synchronously on a worker of the pool (the private
// loop of sendSynchronous has a real clock, so curl's timers fire while a virtual process clock
// waits); its handler runs there after tracing "social post USER URL STATUS" (0: no answer), and the
// whole exchange counts as work in flight. Endpoints come from the servers "twitter.api",
// "twitter.upload" and "twitter.web", HTTPS by default.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/net/URLLoading.h"
#include "platform/services/social/Accounts.h"

namespace plat::social {

// The trace category "social": posts answered and compose sheets sent.
extern foundation::TraceCategory kTraceSocial;

struct MultipartPart {
    std::string name;
    std::vector<std::uint8_t> data;
    std::string contentType;
    std::string fileName;  // none when empty
};

class SignedRequest {
public:
    // Form parameters, part of the signature.
    SignedRequest(std::string url, Parameters parameters);
    // Multipart parts, outside the signature.
    SignedRequest(std::string url, std::vector<MultipartPart> parts);

    const std::string& url() const { return m_url; }
    void setAccount(Account account) { m_account = std::move(account); }
    const std::optional<Account>& account() const { return m_account; }

    // The HTTP request as it goes out, signed with `stamp` (unsigned without an account).
    net::Request preparedRequest(const OAuthStamp& stamp) const;

    // What the answer gives: the HTTP status (0 when none came) and the body.
    using Handler = std::function<void(int status, std::vector<std::uint8_t> body)>;
    // Sends it over the URL-loading layer, signed with a fresh stamp; `handler` runs once, on a
    // worker of the pool, after the trace line "social post USERNAME URL STATUS". Counted as work
    // in flight until the handler has returned, so a virtual clock does not jump past the answer.
    void perform(Handler handler) const;

private:
    std::string m_url;
    Parameters m_parameters;
    std::vector<MultipartPart> m_parts;
    bool m_multipart = false;
    std::optional<Account> m_account;
};

// The status endpoints on the server bases "twitter.api" and "twitter.upload" (HTTPS unless
// DROVIK_SERVERS says otherwise), and the service's web site, "twitter.web".
std::string statusUpdateURL();
std::string statusUpdateWithMediaURL();
std::string twitterWebSite();

// A tweet: the form parameter "status" to the update endpoint, or, with an image (PNG bytes),
// the parts "media[]" and "status" (UTF-8) to the media endpoint, each typed
// "multipart/form-data" as the service's platform sends them.
SignedRequest tweetRequest(const Account& account, const std::string& message,
                           const std::optional<std::vector<std::uint8_t>>& png);

}  // namespace plat::social
