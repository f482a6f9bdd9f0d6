#include "platform/util/DKCrypto.h"

#include "platform/crypto/Crypto.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kChunk = 1024;

int valueOf(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string DKCrypto::encodeBase64(const Data& data, unsigned lineLength) {
    std::string text;
    text.reserve(data.size());
    const std::size_t n = data.size();
    unsigned lineCount = 0;
    for (std::size_t i = 0; i < n; i += 3) {
        const unsigned b0 = data[i], b1 = i + 1 < n ? data[i + 1] : 0, b2 = i + 2 < n ? data[i + 2] : 0;
        text += kAlphabet[b0 >> 2];
        text += kAlphabet[(b0 & 0x03) << 4 | b1 >> 4];
        text += i + 1 < n ? kAlphabet[(b1 & 0x0f) << 2 | b2 >> 6] : '=';
        text += i + 2 < n ? kAlphabet[b2 & 0x3f] : '=';
        lineCount += 4;
        if (lineLength != 0 && lineCount >= lineLength) {
            text += '\n';
            lineCount = 0;
        }
    }
    return text;
}

DKCrypto::Data DKCrypto::decodeBase64(std::string_view text) {
    for (unsigned char c : text)
        if (c > 0x7f) return {};
    Data data;
    data.reserve(text.size() / 4 * 3 + 2);
    unsigned values[4] = {};
    int pending = 0;
    for (unsigned char c : text) {
        if (c == '=') {
            // A lone value is no valid Base64; it gives its own six bits and nothing of the
            // group before it.
            if (pending == 1) data.push_back(static_cast<std::uint8_t>(values[0] << 2));
            if (pending >= 2) data.push_back(static_cast<std::uint8_t>(values[0] << 2 | values[1] >> 4));
            if (pending == 3) data.push_back(static_cast<std::uint8_t>(values[1] << 4 | values[2] >> 2));
            break;
        }
        const int value = valueOf(c);
        if (value < 0) continue;
        values[pending++] = static_cast<unsigned>(value);
        if (pending == 4) {
            data.push_back(static_cast<std::uint8_t>(values[0] << 2 | values[1] >> 4));
            data.push_back(static_cast<std::uint8_t>(values[1] << 4 | values[2] >> 2));
            data.push_back(static_cast<std::uint8_t>(values[2] << 6 | values[3]));
            pending = 0;
        }
    }
    return data;
}

DKCrypto::Data DKCrypto::decodeBase64(std::string_view text, unsigned) {
    return decodeBase64(text);
}

std::optional<DKCrypto::Data> DKCrypto::createDigestForData(plat::util::InputStream& stream) {
    if (!stream.open()) return std::nullopt;
    plat::crypto::Digest digest(plat::crypto::Algorithm::SHA1);
    std::uint8_t buffer[kChunk];
    for (;;) {
        const long n = stream.read(buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            // The digest of part of the data would pass for the whole's.
            stream.close();
            return std::nullopt;
        }
        digest.update(buffer, static_cast<std::size_t>(n));
    }
    stream.close();
    return digest.finish();
}

std::optional<std::string> DKCrypto::createDigestStringForString(std::string_view text) {
    std::optional<plat::crypto::Bytes> digest = plat::crypto::sha1(text);
    if (!digest) return std::nullopt;
    return plat::crypto::hex(*digest);
}
