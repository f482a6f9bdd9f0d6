// OAuth 1.0a signing against the worked examples of RFC 5849, and the percent-encoding the base
// string and the bodies share.
#include <gtest/gtest.h>

#include "platform/services/social/OAuth.h"

namespace {

using namespace plat::social;

TEST(OAuthTest, PercentEncodingKeepsOnlyTheUnreservedCharacters) {
    const struct {
        const char* text;
        const char* encoded;
    } cases[] = {
        {"AZaz09-._~", "AZaz09-._~"},
        {"a b+c", "a%20b%2Bc"},
        {"!*'();:@&=$,/?#[]%", "%21%2A%27%28%29%3B%3A%40%26%3D%24%2C%2F%3F%23%5B%5D%25"},
        {"caf\u00e9 \u2603", "caf%C3%A9%20%E2%98%83"},
        {"\U0001F600", "%F0%9F%98%80"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(percentEncode(c.text), c.encoded) << c.text;
}

// RFC 5849 section 3.4.1.1: query and form parameters decoded and encoded again, sorted by name
// then value, the realm and signature left out, the URL's query dropped.
TEST(OAuthTest, BaseStringOfTheRfcExample) {
    const Parameters parameters = {{"oauth_consumer_key", "9djdj82h48djs9d2"},
                                   {"oauth_token", "kkk9d7dh3k39sjv7"},
                                   {"oauth_signature_method", "HMAC-SHA1"},
                                   {"oauth_timestamp", "137131201"},
                                   {"oauth_nonce", "7d8f3e4a"},
                                   {"c2", ""},
                                   {"a3", "2 q"}};
    EXPECT_EQ(signatureBaseString("post", "HTTP://Example.com:80/request?b5=%3D%253D&a3=a&c%40=&a2=r%20b", parameters),
              "POST&http%3A%2F%2Fexample.com%2Frequest&a2%3Dr%2520b%26a3%3D2%2520q%26a3%3Da%26b5%3D%253D%25253D%26c%"
              "2540%3D%26c2%3D%26oauth_consumer_key%3D9djdj82h48djs9d2%26oauth_nonce%3D7d8f3e4a%26oauth_signature_"
              "method%3DHMAC-SHA1%26oauth_timestamp%3D137131201%26oauth_token%3Dkkk9d7dh3k39sjv7");
}

// RFC 5849 section 1.2: the photo request, signed with both secrets.
TEST(OAuthTest, SignatureOfTheRfcExample) {
    const Parameters parameters = {{"oauth_consumer_key", "dpf43f3p2l4k3l03"},
                                   {"oauth_token", "nnch734d00sl2jdk"},
                                   {"oauth_signature_method", "HMAC-SHA1"},
                                   {"oauth_timestamp", "137131202"},
                                   {"oauth_nonce", "chapoH"}};
    const std::string base =
        signatureBaseString("GET", "http://photos.example.net/photos?file=vacation.jpg&size=original", parameters);
    EXPECT_EQ(base,
              "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%3Ddpf43f3p2l4k3l03%"
              "26oauth_nonce%3DchapoH%26oauth_signature_method%3DHMAC-SHA1%26oauth_timestamp%3D137131202%26oauth_"
              "token%3Dnnch734d00sl2jdk%26size%3Doriginal");
    EXPECT_EQ(hmacSHA1Signature(base, "kd94hf93k423kf44", "pfkkdhi9sl3r4s00"), "MdpQcU8iPSUjWoN/UDMsK2sui9I=");
}

}  // namespace
