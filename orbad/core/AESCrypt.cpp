#include "orbad/core/AESCrypt.h"

#include <cstring>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/UTF8.h"

namespace utf8 = plat::foundation::utf8;

namespace orbad {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

plat::crypto::Bytes cipherKey(std::string_view key) {
    plat::crypto::Bytes block(32, 0);
    std::memcpy(block.data(), key.data(), key.size() < 32 ? key.size() : 32);
    return block;
}

}  // namespace

std::optional<Data> AES256EncryptWithKey(const Data& data, std::string_view key) {
    return plat::crypto::aesEncrypt(cipherKey(key), data);
}

std::optional<Data> AES256DecryptWithKey(const Data& data, std::string_view key) {
    return plat::crypto::aesDecrypt(cipherKey(key), data);
}

std::string base64Encoding(const Data& data, size_t lineLength) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4 + (lineLength ? data.size() / lineLength + 1 : 0));
    size_t count = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t left = data.size() - i;
        const uint32_t group = uint32_t{data[i]} << 16 | (left > 1 ? uint32_t{data[i + 1]} << 8 : 0) |
                               (left > 2 ? data[i + 2] : 0);
        out += kAlphabet[group >> 18 & 63];
        out += kAlphabet[group >> 12 & 63];
        out += left > 1 ? kAlphabet[group >> 6 & 63] : '=';
        out += left > 2 ? kAlphabet[group & 63] : '=';
        count += 4;
        if (lineLength > 0 && count >= lineLength) {
            out += '\n';
            count = 0;
        }
    }
    return out;
}

Data dataWithBase64EncodedString(std::string_view text) {
    Data out;
    out.reserve(text.size() / 4 * 3);
    uint32_t group = 0;
    int count = 0;
    for (char ch : text) {
        if (ch == '=') {
            // A pending single character still gives a byte here (its low bits zero).
            if (count == 1)
                out.push_back(static_cast<uint8_t>(group << 2));
            else if (count == 2)
                out.push_back(static_cast<uint8_t>(group >> 4));
            else if (count == 3) {
                out.push_back(static_cast<uint8_t>(group >> 10));
                out.push_back(static_cast<uint8_t>(group >> 2));
            }
            return out;
        }
        const char* at = ch ? std::strchr(kAlphabet, ch) : nullptr;
        if (!at) continue;
        group = group << 6 | static_cast<uint32_t>(at - kAlphabet);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(group >> 16));
            out.push_back(static_cast<uint8_t>(group >> 8));
            out.push_back(static_cast<uint8_t>(group));
            group = 0;
            count = 0;
        }
    }
    return out;
}

bool hasPrefixBytes(const Data& data, const uint8_t* bytes, size_t length) {
    return bytes && length && data.size() >= length && std::memcmp(data.data(), bytes, length) == 0;
}

bool hasSuffixBytes(const Data& data, const uint8_t* bytes, size_t length) {
    return bytes && length && data.size() >= length &&
           std::memcmp(data.data() + data.size() - length, bytes, length) == 0;
}

std::optional<std::string> AES256EncryptStringWithKey(std::string_view text, std::string_view key) {
    std::optional<Data> cipher = AES256EncryptWithKey(Data(text.begin(), text.end()), key);
    if (!cipher) return std::nullopt;
    return base64Encoding(*cipher);
}

std::optional<std::string> AES256DecryptStringWithKey(std::string_view base64, std::string_view key) {
    std::optional<Data> plain = AES256DecryptWithKey(dataWithBase64EncodedString(base64), key);
    if (!plain || !utf8::valid(plain->data(), plain->size())) return std::nullopt;
    return std::string(plain->begin(), plain->end());
}

}  // namespace orbad
