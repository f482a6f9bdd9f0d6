// What the social services' tests and the Twitter plugin's share: requests as the test server
// received them, taken apart and checked against known secrets; accounts files.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/net/tests/NetTestSupport.h"
#include "platform/services/social/Accounts.h"

namespace dktest {

// The protocol parameters of an "OAuth ..." header, decoded; empty when it is none.
std::map<std::string, std::string> oauthHeaderParameters(const std::string& header);

// The signature the request carries is the one its method, URL, form body and header parameters
// give with `account`'s secrets; `url` is where it was sent.
bool carriesValidSignature(const ReceivedRequest& request, const std::string& url,
                           const plat::social::Account& account);

struct ReceivedPart {
    std::string disposition;  // the Content-Disposition value
    std::string contentType;
    std::string data;
};
// The parts of a multipart/form-data body, by the boundary its Content-Type names.
std::vector<ReceivedPart> multipartParts(const ReceivedRequest& request);

// A test account whose secrets hold reserved characters, numbered `n`.
plat::social::Account testAccount(int n);

// The accounts.plist text: `entries` are further keys, the accounts given become "twitter".
std::string accountsPlist(const std::vector<plat::social::Account>& accounts, const std::string& entries = "");

}  // namespace dktest
