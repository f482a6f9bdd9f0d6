// The requests the rest of the client makes: the core requests plus the client's User-Agent.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orbad/core/http/OBCoreHTTPRequest.h"

namespace orbad {

// Where the User-Agent comes from: the controller's configuration, once the controller exists
// (it sets this when made and clears it when it goes). Asking never makes a controller. Unset, or
// answering nothing: no header.
using OBUserAgentSource = std::function<std::optional<std::string>()>;
void setOBUserAgentSource(OBUserAgentSource source);

class OBHTTPRequest : public OBCoreHTTPRequest {
public:
    static std::shared_ptr<OBHTTPRequest> create(std::string url,
                                                 const std::shared_ptr<OBHTTPRequestDelegate>& delegate = {});

protected:
    using OBCoreHTTPRequest::OBCoreHTTPRequest;
};

class OBHTTPFormRequest : public OBCoreHTTPFormRequest {
public:
    static std::shared_ptr<OBHTTPFormRequest> create(
        std::string url, const std::shared_ptr<OBHTTPRequestDelegate>& delegate = {});

protected:
    using OBCoreHTTPFormRequest::OBCoreHTTPFormRequest;
};

}  // namespace orbad
