// Password-keyed AES-256 and a Base64 codec of its own, for byte buffers and strings. The format is
// fixed by the servers that read it: CBC with an all-zero IV, PKCS#7, the key's UTF-8 bytes
// zero-padded to 32 (a longer key uses its first 32), no authentication, no key derivation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orbad {

using Data = std::vector<uint8_t>;

// The cipher text alone; nothing on any cipher failure (a wrong key or a bad length included).
std::optional<Data> AES256EncryptWithKey(const Data& data, std::string_view key);
std::optional<Data> AES256DecryptWithKey(const Data& data, std::string_view key);

// Unlike the helpers' codec: "\n" after each group that brings the running count to the line
// length (so the text may end with "\n"); decoding stops at the first "=", and a partial group
// left without it is dropped.
std::string base64Encoding(const Data& data, size_t lineLength = 0);
Data dataWithBase64EncodedString(std::string_view text);

bool hasPrefixBytes(const Data& data, const uint8_t* bytes, size_t length);
bool hasSuffixBytes(const Data& data, const uint8_t* bytes, size_t length);

// Base64 of the encrypted UTF-8 text; and back, nothing when the bytes are not UTF-8.
std::optional<std::string> AES256EncryptStringWithKey(std::string_view text, std::string_view key);
std::optional<std::string> AES256DecryptStringWithKey(std::string_view base64, std::string_view key);

}  // namespace orbad
