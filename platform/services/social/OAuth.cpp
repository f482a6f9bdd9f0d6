#include "platform/services/social/OAuth.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <random>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Value.h"

namespace plat::social {

namespace {

std::atomic<OAuthStamp (*)()> g_stampSource{nullptr};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A query's name or value as form decoding reads it: "%XX" bytes and "+" for a space.
std::string formDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

}  // namespace

std::string percentEncode(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 15];
        }
    }
    return out;
}

OAuthStamp makeOAuthStamp() {
    if (auto source = g_stampSource.load()) return source();
    thread_local std::mt19937_64 random{std::random_device{}()};
    char nonce[33];
    std::snprintf(nonce, sizeof nonce, "%016llx%016llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random()));
    return {nonce, std::to_string(static_cast<long long>(foundation::Clock::wallSeconds()))};
}

void setOAuthStampSource(OAuthStamp (*source)()) {
    g_stampSource.store(source);
}

Parameters oauthParameters(const OAuthCredentials& credentials, const OAuthStamp& stamp) {
    return {{"oauth_consumer_key", credentials.consumerKey},
            {"oauth_nonce", stamp.nonce},
            {"oauth_signature_method", "HMAC-SHA1"},
            {"oauth_timestamp", stamp.timestamp},
            {"oauth_token", credentials.token},
            {"oauth_version", "1.0"}};
}

std::string signatureBaseString(std::string_view method, std::string_view url, const Parameters& parameters) {
    std::string_view rest = url;
    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
    std::string_view query;
    if (const size_t mark = rest.find('?'); mark != std::string_view::npos) {
        query = rest.substr(mark + 1);
        rest = rest.substr(0, mark);
    }
    std::string base;
    const size_t colon = rest.find("://");
    if (colon == std::string_view::npos) {
        base = std::string(rest);
    } else {
        const std::string scheme = lower(rest.substr(0, colon));
        std::string_view afterScheme = rest.substr(colon + 3);
        const size_t slash = afterScheme.find('/');
        std::string authority = lower(afterScheme.substr(0, slash));
        const std::string_view path = slash == std::string_view::npos ? "/" : afterScheme.substr(slash);
        if ((scheme == "http" && authority.ends_with(":80")) || (scheme == "https" && authority.ends_with(":443")))
            authority.resize(authority.rfind(':'));
        base = scheme + "://" + authority + std::string(path);
    }

    std::vector<std::pair<std::string, std::string>> encoded;
    for (const auto& [name, value] : parameters) encoded.emplace_back(percentEncode(name), percentEncode(value));
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        encoded.emplace_back(percentEncode(formDecode(pair.substr(0, equals))),
                             percentEncode(equals == std::string_view::npos ? "" : formDecode(pair.substr(equals + 1))));
    }
    std::sort(encoded.begin(), encoded.end());
    std::string normalized;
    for (const auto& [name, value] : encoded) {
        if (!normalized.empty()) normalized += '&';
        normalized += name + "=" + value;
    }
    std::string upper(method);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    return percentEncode(upper) + "&" + percentEncode(base) + "&" + percentEncode(normalized);
}

std::string hmacSHA1Signature(std::string_view baseString, std::string_view consumerSecret,
                              std::string_view tokenSecret) {
    const std::string key = percentEncode(consumerSecret) + "&" + percentEncode(tokenSecret);
    const std::optional<crypto::Bytes> digest = crypto::hmacSHA1(key, baseString);
    return digest ? foundation::base64Encode(*digest) : std::string();
}

std::string authorizationHeader(const OAuthCredentials& credentials, const OAuthStamp& stamp,
                                std::string_view method, std::string_view url, const Parameters& form) {
    Parameters protocol = oauthParameters(credentials, stamp);
    Parameters signed_ = protocol;
    signed_.insert(signed_.end(), form.begin(), form.end());
    const std::string signature = hmacSHA1Signature(signatureBaseString(method, url, signed_),
                                                    credentials.consumerSecret, credentials.tokenSecret);
    protocol.insert(protocol.begin() + 2, {"oauth_signature", signature});
    std::string header = "OAuth ";
    for (size_t i = 0; i < protocol.size(); ++i) {
        if (i) header += ", ";
        header += protocol[i].first + "=\"" + percentEncode(protocol[i].second) + "\"";
    }
    return header;
}

}  // namespace plat::social
