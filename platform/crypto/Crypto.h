// Digests (SHA-1, MD5; one-shot and streaming), HMAC-SHA1 and one-pass AES (128/192/256, CBC or ECB,
// PKCS#7 padding, a zero IV when none), on OpenSSL 3's fetched EVP algorithms only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::crypto {

using Bytes = std::vector<std::uint8_t>;

enum class Algorithm { SHA1, MD5 };

inline constexpr std::size_t kSHA1Length = 20;
inline constexpr std::size_t kMD5Length = 16;

// A digest fed in pieces. A failure (OpenSSL refusing the algorithm, out of memory) sticks:
// once update() has returned false, finish() gives nothing.
class Digest {
public:
    explicit Digest(Algorithm algorithm);
    ~Digest();
    Digest(Digest&&) noexcept;
    Digest& operator=(Digest&&) noexcept;
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    bool update(const void* data, std::size_t size);
    bool update(std::string_view text) { return update(text.data(), text.size()); }
    // The digest of everything given; the object is spent afterwards (further calls fail).
    std::optional<Bytes> finish();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// One-shot digests; nothing only when OpenSSL fails.
std::optional<Bytes> digest(Algorithm algorithm, const void* data, std::size_t size);
inline std::optional<Bytes> sha1(std::string_view data) {
    return digest(Algorithm::SHA1, data.data(), data.size());
}
inline std::optional<Bytes> md5(std::string_view data) {
    return digest(Algorithm::MD5, data.data(), data.size());
}

// HMAC (RFC 2104) with SHA-1.
std::optional<Bytes> hmacSHA1(const void* key, std::size_t keySize, const void* data, std::size_t size);
inline std::optional<Bytes> hmacSHA1(std::string_view key, std::string_view data) {
    return hmacSHA1(key.data(), key.size(), data.data(), data.size());
}

// Bytes as hexadecimal digits, two per byte ("%02x", or "%02X" when `upper`), with `separator`
// between the pairs unless it is '\0'.
std::string hex(const void* data, std::size_t size, bool upper = false, char separator = '\0');
inline std::string hex(const Bytes& bytes, bool upper = false, char separator = '\0') {
    return hex(bytes.data(), bytes.size(), upper, separator);
}

// AES in one pass, as the platform's one-shot cipher call does it: the key is 16, 24 or 32 bytes
// (AES-128/192/256); CBC takes a 16-byte initialisation vector, all zero when `iv` is null; ECB
// ignores it. With PKCS#7 padding the output is padded (encrypting) or unpadded (decrypting);
// without it the input must be a whole number of 16-byte blocks. Nothing on any failure: a wrong
// key size, a bad length, padding that does not check out.
enum class CipherMode { CBC, ECB };

struct AesOptions {
    CipherMode mode = CipherMode::CBC;
    bool pkcs7Padding = true;
    const std::uint8_t* iv = nullptr;  // 16 bytes, CBC only
};

std::optional<Bytes> aesEncrypt(const Bytes& key, const void* data, std::size_t size, const AesOptions& options = {});
std::optional<Bytes> aesDecrypt(const Bytes& key, const void* data, std::size_t size, const AesOptions& options = {});
inline std::optional<Bytes> aesEncrypt(const Bytes& key, const Bytes& data, const AesOptions& options = {}) {
    return aesEncrypt(key, data.data(), data.size(), options);
}
inline std::optional<Bytes> aesDecrypt(const Bytes& key, const Bytes& data, const AesOptions& options = {}) {
    return aesDecrypt(key, data.data(), data.size(), options);
}

inline constexpr std::size_t kAesBlockSize = 16;

}  // namespace plat::crypto
