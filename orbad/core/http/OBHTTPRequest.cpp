#include "orbad/core/http/OBHTTPRequest.h"

#include <mutex>

namespace orbad {

namespace {

std::mutex g_sourceMutex;
OBUserAgentSource g_source;

void addUserAgent(OBCoreHTTPRequest& request) {
    OBUserAgentSource source;
    {
        std::lock_guard lock(g_sourceMutex);
        source = g_source;
    }
    if (!source) return;
    if (std::optional<std::string> agent = source())
        request.addRequestHeader("User-Agent", std::move(*agent));
}

}  // namespace

void setOBUserAgentSource(OBUserAgentSource source) {
    std::lock_guard lock(g_sourceMutex);
    g_source = std::move(source);
}

std::shared_ptr<OBHTTPRequest> OBHTTPRequest::create(std::string url,
                                                     const std::shared_ptr<OBHTTPRequestDelegate>& delegate) {
    std::shared_ptr<OBHTTPRequest> request(new OBHTTPRequest(std::move(url)));
    request->setDelegate(delegate);
    addUserAgent(*request);
    return request;
}

std::shared_ptr<OBHTTPFormRequest> OBHTTPFormRequest::create(
    std::string url, const std::shared_ptr<OBHTTPRequestDelegate>& delegate) {
    std::shared_ptr<OBHTTPFormRequest> request(new OBHTTPFormRequest(std::move(url)));
    request->setDelegate(delegate);
    addUserAgent(*request);
    return request;
}

}  // namespace orbad
