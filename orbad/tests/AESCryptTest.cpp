// AES-256 against OpenSSL's own command line, and the second Base64 codec's differences.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "orbad/core/AESCrypt.h"
#include "platform/crypto/Crypto.h"

namespace dktest {
namespace {

using orbad::Data;

Data fromHex(const std::string& hex) {
    Data out;
    if (hex == "-") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string text(const Data& d) {
    return std::string(d.begin(), d.end());
}

TEST(AES, MatchesOpenSSLBothWays) {
    std::ifstream in(DK_TEST_DATA_DIR "/aes.vectors");
    std::string line;
    int vectors = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string key, plain, cipher;
        fields >> key >> plain >> cipher;
        const std::string keyText = text(fromHex(key));
        EXPECT_EQ(orbad::AES256EncryptWithKey(fromHex(plain), keyText), fromHex(cipher)) << line;
        EXPECT_EQ(orbad::AES256DecryptWithKey(fromHex(cipher), keyText), fromHex(plain)) << line;
        ++vectors;
    }
    EXPECT_EQ(vectors, 5);
}

// A key of more than 32 bytes is its first 32, never an all-zero key.
TEST(AES, LongKeyUsesItsFirst32Bytes) {
    const Data plain = {'x'};
    const std::string key32 = "0123456789abcdefghijklmnopqrstuv";
    EXPECT_EQ(orbad::AES256EncryptWithKey(plain, key32 + "wxy"), orbad::AES256EncryptWithKey(plain, key32));
    EXPECT_NE(orbad::AES256EncryptWithKey(plain, key32 + "wxy"), orbad::AES256EncryptWithKey(plain, ""));
}

TEST(AES, ShortKeysPadAndFailuresGiveNothing) {
    EXPECT_EQ(orbad::AES256EncryptWithKey({}, "k")->size(), 16u);
    EXPECT_EQ(orbad::AES256EncryptWithKey({1, 2}, "k"),
              orbad::AES256EncryptWithKey({1, 2}, std::string("k\0", 2)));
    const Data cipher = *orbad::AES256EncryptWithKey(Data{'h', 'i'}, "right");
    EXPECT_EQ(orbad::AES256DecryptWithKey(cipher, "wrong"), std::nullopt);
    EXPECT_EQ(orbad::AES256DecryptWithKey(Data(15, 0), "k"), std::nullopt);
    EXPECT_EQ(orbad::AES256DecryptWithKey(Data(cipher.begin(), cipher.end() - 1), "right"), std::nullopt);
}

TEST(AES, StringForms) {
    const std::optional<std::string> sealed = orbad::AES256EncryptStringWithKey("grüße", "ключ");
    ASSERT_TRUE(sealed);
    EXPECT_EQ(orbad::AES256DecryptStringWithKey(*sealed, "ключ"), "grüße");
    EXPECT_EQ(orbad::AES256EncryptStringWithKey("hello", "k"), "iiNu0WHv/KxlMHagOfRIKw==");
    // Bytes that are not UTF-8 make no string.
    const Data latin1 = {'g', 0xFC};
    EXPECT_EQ(orbad::AES256DecryptStringWithKey(
                  orbad::base64Encoding(*orbad::AES256EncryptWithKey(latin1, "k")), "k"),
              std::nullopt);
}

TEST(SecondBase64, ItsOwnLinesAndEndings) {
    EXPECT_EQ(orbad::base64Encoding(Data(6, 0), 4), "AAAA\nAAAA\n");
    EXPECT_EQ(orbad::base64Encoding(Data(7, 0), 10), "AAAAAAAAAA==\n");  // breaks fall between groups only
    EXPECT_EQ(orbad::base64Encoding({}, 4), "");
    EXPECT_EQ(orbad::base64Encoding({'a'}), "YQ==");
    const struct {
        const char* text;
        Data bytes;
    } cases[] = {
        {"QQ==", {0x41}},
        {"QQ", {}},
        {"Zm=9v", {0x66}},
        {"Q=", {0x40}},
        {"Zm9v\nYmFy", {'f', 'o', 'o', 'b', 'a', 'r'}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(orbad::dataWithBase64EncodedString(c.text), c.bytes) << c.text;
}

TEST(SecondBase64, PrefixAndSuffix) {
    const Data d = {1, 2, 3};
    const uint8_t head[] = {1, 2}, tail[] = {2, 3}, longer[] = {1, 2, 3, 4};
    EXPECT_TRUE(orbad::hasPrefixBytes(d, head, 2));
    EXPECT_FALSE(orbad::hasPrefixBytes(d, tail, 2));
    EXPECT_TRUE(orbad::hasSuffixBytes(d, tail, 2));
    EXPECT_FALSE(orbad::hasSuffixBytes(d, longer, 4));
    EXPECT_FALSE(orbad::hasPrefixBytes(d, nullptr, 2));
    EXPECT_FALSE(orbad::hasPrefixBytes(d, head, 0));
}

}  // namespace
}  // namespace dktest
