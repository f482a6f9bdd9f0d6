// Digests, HMAC and AES against the published vectors (FIPS 180, RFC 1321, RFC 2202, NIST SP
// 800-38A), streaming against one-shot, and the cipher's failure cases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/crypto/Crypto.h"

namespace {

using namespace plat::crypto;

Bytes fromHex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

std::string hexOf(const std::optional<Bytes>& bytes) {
    return bytes ? hex(*bytes) : "<none>";
}

TEST(Digests, MatchThePublishedVectors) {
    struct Case {
        Algorithm algorithm;
        std::string input;
        const char* expected;
    } cases[] = {
        {Algorithm::SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {Algorithm::SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {Algorithm::SHA1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {Algorithm::SHA1, std::string("a\0b", 3), "4a3dec2d1f8245280855c42db0ee4239f917fdb8"},
        {Algorithm::MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {Algorithm::MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {Algorithm::MD5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {Algorithm::MD5, "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hexOf(digest(c.algorithm, c.input.data(), c.input.size())), c.expected) << c.input;
    // The vectors' digits are lower case; upper case and separated pairs on request.
    EXPECT_EQ(hex(Bytes{0x00, 0x0f, 0xa0, 0xff}, true), "000FA0FF");
    EXPECT_EQ(hex(Bytes{0x00, 0x0f, 0xa0, 0xff}, false, ':'), "00:0f:a0:ff");
}

TEST(Digests, StreamingInUnevenPiecesEqualsTheWhole) {
    // A million "a" (FIPS 180's long message), fed in pieces that straddle the 64-byte blocks.
    const std::string million(1000000, 'a');
    Digest d(Algorithm::SHA1);
    std::size_t at = 0, piece = 1;
    while (at < million.size()) {
        std::size_t n = std::min(piece, million.size() - at);
        ASSERT_TRUE(d.update(million.data() + at, n));
        at += n;
        piece = piece * 3 % 1031 + 1;
    }
    EXPECT_TRUE(d.update(nullptr, 0));
    EXPECT_EQ(hexOf(d.finish()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    // Spent: a second result would silently be the digest of nothing.
    EXPECT_FALSE(d.update("a"));
    EXPECT_FALSE(d.finish());
}

TEST(Hmac, MatchesRfc2202) {
    struct Case {
        Bytes key;
        std::string data;
        const char* expected;
    } cases[] = {
        {Bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {Bytes{'J', 'e', 'f', 'e'}, "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Bytes(20, 0xaa), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        // Longer than a block: the key is hashed first.
        {Bytes(80, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Bytes{}, "", "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hexOf(hmacSHA1(c.key.data(), c.key.size(), c.data.data(), c.data.size())), c.expected) << c.data;
}

// NIST SP 800-38A, F.1 and F.2: four blocks of plain text, no padding.
const char* kPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char* kIv = "000102030405060708090a0b0c0d0e0f";

TEST(Aes, MatchesNistVectorsBothWays) {
    struct Case {
        const char* key;
        CipherMode mode;
        const char* cipher;
    } cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c", CipherMode::ECB,
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
         "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
        {"2b7e151628aed2a6abf7158809cf4f3c", CipherMode::CBC,
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", CipherMode::ECB,
         "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
         "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", CipherMode::CBC,
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    };
    const Bytes iv = fromHex(kIv);
    for (const Case& c : cases) {
        AesOptions options{c.mode, false, iv.data()};
        const Bytes key = fromHex(c.key);
        EXPECT_EQ(hexOf(aesEncrypt(key, fromHex(kPlain), options)), c.cipher) << c.key;
        EXPECT_EQ(hexOf(aesDecrypt(key, fromHex(c.cipher), options)), kPlain) << c.key;
    }
}

TEST(Aes, Pkcs7PaddingWithAZeroIv) {
    const Bytes key(32, 0x11);
    // Always padded: an empty buffer is one block, a whole block gets a whole block more.
    for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 100u}) {
        Bytes plain(size);
        for (std::size_t i = 0; i < size; ++i) plain[i] = static_cast<std::uint8_t>(i * 7);
        auto sealed = aesEncrypt(key, plain);
        ASSERT_TRUE(sealed);
        EXPECT_EQ(sealed->size(), (size / 16 + 1) * 16);
        EXPECT_EQ(aesDecrypt(key, *sealed), plain) << size;
    }
    // A null IV is the zero IV.
    const Bytes zero(16, 0);
    EXPECT_EQ(aesEncrypt(key, Bytes{1, 2, 3}), aesEncrypt(key, Bytes{1, 2, 3}, {CipherMode::CBC, true, zero.data()}));
}

TEST(Aes, RefusesWhatItCannotDo) {
    const Bytes key(16, 0x22);
    EXPECT_FALSE(aesEncrypt(Bytes(20, 1), Bytes{1}));  // no such key size
    EXPECT_FALSE(aesEncrypt(Bytes{}, Bytes{1}));
    EXPECT_FALSE(aesEncrypt(key, Bytes(15, 1), {CipherMode::CBC, false}));  // no padding, part block
    EXPECT_FALSE(aesDecrypt(key, Bytes(15, 1)));                            // not whole blocks
    // Decrypting with the wrong key leaves padding that does not check out (almost always).
    auto sealed = aesEncrypt(key, Bytes(5, 9));
    ASSERT_TRUE(sealed);
    EXPECT_FALSE(aesDecrypt(Bytes(16, 0x23), *sealed));
}

}  // namespace
