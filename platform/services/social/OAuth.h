// OAuth 1.0a request signing with HMAC-SHA1, as the service's REST interface expects it: the
// signature base string, the signature, and the Authorization header.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat::social {

// Name and value pairs, decoded (plain text, not percent-encoded).
using Parameters = std::vector<std::pair<std::string, std::string>>;

// RFC 3986 percent-encoding of UTF-8 bytes: everything but letters, digits and "-._~", in
// upper-case hexadecimal; a space is "%20", never "+".
std::string percentEncode(std::string_view text);

// The credentials of one account.
struct OAuthCredentials {
    std::string consumerKey;
    std::string consumerSecret;
    std::string token;
    std::string tokenSecret;
};

// What changes from one signature to the next.
struct OAuthStamp {
    std::string nonce;
    std::string timestamp;  // seconds since 1970, in decimal
};

// A fresh stamp: 32 random hexadecimal digits and the wall clock, unless tests put their own
// source in place (null gives the default back).
OAuthStamp makeOAuthStamp();
void setOAuthStampSource(OAuthStamp (*source)());

// The oauth_ protocol parameters, without the signature.
Parameters oauthParameters(const OAuthCredentials& credentials, const OAuthStamp& stamp);

// METHOD&URL&PARAMETERS: the method in capitals; the URL without query or fragment, its scheme
// and host in lower case and a default port left out; the parameters are those of `url`'s query
// and `parameters` (protocol and form parameters), each name and value encoded, sorted, joined.
std::string signatureBaseString(std::string_view method, std::string_view url, const Parameters& parameters);

// HMAC-SHA1 of the base string, keyed by the encoded secrets joined by "&", in Base64.
std::string hmacSHA1Signature(std::string_view baseString, std::string_view consumerSecret,
                              std::string_view tokenSecret);

// "OAuth oauth_consumer_key=\"...\", ..., oauth_version=\"1.0\"": the protocol parameters with the
// signature over `method`, `url` and the form parameters `form` (multipart parts sign nothing).
std::string authorizationHeader(const OAuthCredentials& credentials, const OAuthStamp& stamp,
                                std::string_view method, std::string_view url, const Parameters& form);

}  // namespace plat::social
