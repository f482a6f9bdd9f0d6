#include "platform/social/SignedRequest.h"

#include <pthread.h>

#include <cstdio>
#include <future>
#include <memory>
#include <random>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/social/KeepAwake.h"

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

// A server base with `path` after it, one slash between them.
std::string endpoint(std::string_view name, std::string_view fallback, std::string_view path) {
    std::string base = net::serverBase(name, fallback);
    while (base.ends_with('/')) base.pop_back();
    return base + std::string(path);
}

// The thread requests run on. Its loop has a real clock of its own: a virtual process clock stands
// still while work is in flight, and curl's timers must fire meanwhile.
foundation::RunLoop& requestLoop() {
    static foundation::RunLoop* loop = [] {
        std::promise<foundation::RunLoop*> made;
        std::future<foundation::RunLoop*> future = made.get_future();
        std::thread([&made] {
            pthread_setname_np(pthread_self(), "dk-social");
            // Never destroyed: a request may still be running as the process exits.
            auto* own = new foundation::RunLoop(std::make_shared<foundation::Clock>(foundation::Clock::Kind::Real));
            made.set_value(own);
            own->run();
        }).detach();
        return future.get();
    }();
    return *loop;
}

// A load under way: it owns its connection until the answer has been handed on.
struct Transfer {
    net::Connection connection;
    int status = 0;
    std::vector<std::uint8_t> body;
    SignedRequest::Handler handler;
    foundation::WorkInFlight work;
    std::string username;
    std::string url;
    std::shared_ptr<KeepAwake> keepAwake;
};

void answer(const std::shared_ptr<Transfer>& transfer, int status) {
    foundation::tracef(kTraceSocial, "post %s %s %d", transfer->username.c_str(), transfer->url.c_str(), status);
    if (status == 0) transfer->body.clear();
    if (transfer->handler) transfer->handler(status, std::move(transfer->body));
    transfer->handler = nullptr;
    KeepAwake::release(std::move(transfer->keepAwake));
    // The connection goes once its own handler has returned; with it the handlers that hold this.
    requestLoop().perform([transfer] { transfer->connection = {}; });
    transfer->work.end();
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
    auto transfer = std::make_shared<Transfer>();
    transfer->handler = std::move(handler);
    transfer->work = foundation::Clock::processShared()->beginWork();
    transfer->username = m_account ? m_account->username : std::string();
    transfer->url = m_url;
    transfer->keepAwake = KeepAwake::onCurrentLoop();
    foundation::RunLoop& loop = requestLoop();
    loop.perform([transfer, request = preparedRequest(makeOAuthStamp()), &loop]() mutable {
        net::ConnectionHandlers handlers;
        Transfer* t = transfer.get();
        handlers.didReceiveResponse = [t](const net::Response& response) { t->status = response.status; };
        handlers.didReceiveData = [t](const std::uint8_t* data, std::size_t size) {
            t->body.insert(t->body.end(), data, data + size);
        };
        handlers.didFinish = [transfer] { answer(transfer, transfer->status); };
        handlers.didFail = [transfer](const net::Error&) { answer(transfer, 0); };
        transfer->connection = net::Connection::start(std::move(request), std::move(handlers), &loop);
    });
}

std::string statusUpdateURL() {
    return endpoint("twitter.api", "https://api.twitter.com", "/1/statuses/update.json");
}

std::string statusUpdateWithMediaURL() {
    return endpoint("twitter.upload", "https://upload.twitter.com", "/1/statuses/update_with_media.json");
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
