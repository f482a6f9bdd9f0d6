#include "platform/services/social/SignedRequest.h"

#include <cstdio>
#include <random>

#include "platform/foundation/Queue.h"
#include "platform/net/Servers.h"

namespace plat::social {

foundation::TraceCategory kTraceSocial("social");

namespace {

std::string randomBoundary() {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char text[48];
    std::snprintf(text, sizeof text, "Boundary-%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return text;
}

void append(std::vector<std::uint8_t>& body, std::string_view text) {
    body.insert(body.end(), text.begin(), text.end());
}

}  // namespace

SignedRequest::SignedRequest(std::string url, Parameters parameters)
    : m_url(std::move(url)), m_parameters(std::move(parameters)) {}

SignedRequest::SignedRequest(std::string url, std::vector<MultipartPart> parts)
    : m_url(std::move(url)), m_parts(std::move(parts)), m_multipart(true) {}

net::Request SignedRequest::preparedRequest(const OAuthStamp& stamp) const {
    net::Request request;
    request.url = m_url;
    request.method = "POST";
    if (m_multipart) {
        const std::string boundary = randomBoundary();
        net::setHeader(request.headers, "Content-Type", "multipart/form-data; boundary=" + boundary);
        for (const MultipartPart& part : m_parts) {
            append(request.body, "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"");
            if (!part.fileName.empty()) append(request.body, "; filename=\"" + part.fileName + "\"");
            append(request.body, "\r\n");
            if (!part.contentType.empty()) append(request.body, "Content-Type: " + part.contentType + "\r\n");
            append(request.body, "\r\n");
            request.body.insert(request.body.end(), part.data.begin(), part.data.end());
            append(request.body, "\r\n");
        }
        append(request.body, "--" + boundary + "--\r\n");
    } else {
        net::setHeader(request.headers, "Content-Type", "application/x-www-form-urlencoded");
        std::string form;
        for (const auto& [name, value] : m_parameters) {
            if (!form.empty()) form += '&';
            form += percentEncode(name) + "=" + percentEncode(value);
        }
        request.setBody(form);
    }
    if (m_account) {
        static const Parameters kNone;
        net::setHeader(request.headers, "Authorization",
                       authorizationHeader(m_account->credentials, stamp, request.method, m_url,
                                           m_multipart ? kNone : m_parameters));
    }
    return request;
}

void SignedRequest::perform(Handler handler) const {
    foundation::Queue::global().async([request = preparedRequest(makeOAuthStamp()),
                                       handler = std::move(handler),
                                       username = m_account ? m_account->username : std::string()] {
        net::SyncResult result = net::sendSynchronous(request);
        const int status = result.error || !result.response ? 0 : result.response->status;
        foundation::tracef(kTraceSocial, "post %s %s %d", username.c_str(), request.url.c_str(), status);
        if (status == 0) result.data.clear();
        if (handler) handler(status, std::move(result.data));
    });
}

std::string statusUpdateURL() {
    return net::serverURL("twitter.api", "https://api.twitter.com", "/1/statuses/update.json");
}

std::string statusUpdateWithMediaURL() {
    return net::serverURL("twitter.upload", "https://upload.twitter.com",
                          "/1/statuses/update_with_media.json");
}

std::string twitterWebSite() {
    return net::serverBase("twitter.web", "https://twitter.com/");
}

SignedRequest tweetRequest(const Account& account, const std::string& message,
                           const std::optional<std::vector<std::uint8_t>>& png) {
    if (!png) {
        SignedRequest request(statusUpdateURL(), Parameters{{"status", message}});
        request.setAccount(account);
        return request;
    }
    std::vector<MultipartPart> parts;
    parts.push_back({"media[]", *png, "multipart/form-data", {}});
    parts.push_back({"status", std::vector<std::uint8_t>(message.begin(), message.end()), "multipart/form-data", {}});
    SignedRequest request(statusUpdateWithMediaURL(), std::move(parts));
    request.setAccount(account);
    return request;
}

}  // namespace plat::social
