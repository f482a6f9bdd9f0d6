#include "platform/util/DKCrypto.h"

#include <algorithm>
#include <cctype>

#include "platform/crypto/Crypto.h"
#include "platform/foundation/Value.h"

namespace {

constexpr std::size_t kChunk = 1024;

}  // namespace

std::string DKCrypto::encodeBase64(const Data& data, unsigned lineLength) {
    const std::string flat = plat::foundation::base64Encode(data);
    if (lineLength == 0) return flat;
    // A line ends after the group of four that brings it to at least lineLength characters.
    const std::size_t width = (lineLength + 3) / 4 * 4;
    std::string text;
    text.reserve(flat.size() + flat.size() / width);
    for (std::size_t at = 0; at < flat.size(); at += width) {
        text.append(flat, at, width);
        if (at + width <= flat.size()) text += '\n';
    }
    return text;
}

DKCrypto::Data DKCrypto::decodeBase64(std::string_view text) {
    if (std::any_of(text.begin(), text.end(), [](unsigned char c) { return c > 0x7f; })) return {};
    // Bytes outside the alphabet are skipped; the first "=" ends the text.
    std::string values;
    bool padded = false;
    for (unsigned char c : text) {
        if (c == '=') {
            padded = true;
            break;
        }
        if (std::isalnum(c) || c == '+' || c == '/') values += static_cast<char>(c);
    }
    const std::size_t tail = values.size() % 4;
    if (!padded) {
        values.resize(values.size() - tail);  // an unclosed last group is dropped
    } else if (tail == 1) {
        // A lone value is no valid Base64; it gives its own six bits shifted left by 2, which is
        // what it decodes to beside a zero value.
        values += 'A';
    }
    return plat::foundation::base64Decode(values).value_or(Data{});
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
