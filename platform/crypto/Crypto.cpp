#include "platform/crypto/Crypto.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <array>
#include <climits>

namespace plat::crypto {

namespace {

// Fetched once: fetching by name looks through the providers, which is not free.
const EVP_MD* messageDigest(Algorithm algorithm) {
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    static EVP_MD* const md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
    return algorithm == Algorithm::SHA1 ? sha1 : md5;
}

const EVP_CIPHER* aesCipher(std::size_t keySize, CipherMode mode) {
    static const std::array<EVP_CIPHER*, 6> ciphers = {
        EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr), EVP_CIPHER_fetch(nullptr, "AES-192-CBC", nullptr),
        EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr), EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr),
        EVP_CIPHER_fetch(nullptr, "AES-192-ECB", nullptr), EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr),
    };
    std::size_t size = keySize == 16 ? 0 : keySize == 24 ? 1 : keySize == 32 ? 2 : 3;
    if (size == 3) return nullptr;
    return ciphers[(mode == CipherMode::ECB ? 3 : 0) + size];
}

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

std::optional<Bytes> aesCrypt(bool encrypt, const Bytes& key, const void* data, std::size_t size,
                              const AesOptions& options) {
    const EVP_CIPHER* cipher = aesCipher(key.size(), options.mode);
    if (!cipher) return std::nullopt;
    if (!options.pkcs7Padding && size % kAesBlockSize != 0) return std::nullopt;
    if (size > static_cast<std::size_t>(INT_MAX) - kAesBlockSize) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context) return std::nullopt;
    static const std::uint8_t zeroIv[kAesBlockSize] = {};
    const std::uint8_t* iv = options.mode == CipherMode::CBC ? (options.iv ? options.iv : zeroIv) : nullptr;
    if (EVP_CipherInit_ex2(context.get(), cipher, key.data(), iv, encrypt ? 1 : 0, nullptr) != 1) return std::nullopt;
    EVP_CIPHER_CTX_set_padding(context.get(), options.pkcs7Padding ? 1 : 0);

    Bytes out(size + kAesBlockSize);
    int written = 0, last = 0;
    if (EVP_CipherUpdate(context.get(), out.data(), &written, static_cast<const unsigned char*>(data),
                         static_cast<int>(size)) != 1)
        return std::nullopt;
    if (EVP_CipherFinal_ex(context.get(), out.data() + written, &last) != 1) return std::nullopt;
    out.resize(static_cast<std::size_t>(written + last));
    return out;
}

}  // namespace

struct Digest::Context {
    EVP_MD_CTX* md = nullptr;
    bool failed = false;
    ~Context() { EVP_MD_CTX_free(md); }
};

Digest::Digest(Algorithm algorithm) : m_context(std::make_unique<Context>()) {
    const EVP_MD* type = messageDigest(algorithm);
    m_context->md = EVP_MD_CTX_new();
    m_context->failed = !type || !m_context->md || EVP_DigestInit_ex2(m_context->md, type, nullptr) != 1;
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

bool Digest::update(const void* data, std::size_t size) {
    if (!m_context || m_context->failed) return false;
    if (size > 0 && EVP_DigestUpdate(m_context->md, data, size) != 1) m_context->failed = true;
    return !m_context->failed;
}

std::optional<Bytes> Digest::finish() {
    if (!m_context || m_context->failed) return std::nullopt;
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    bool ok = EVP_DigestFinal_ex(m_context->md, out.data(), &length) == 1;
    m_context->failed = true;  // spent
    if (!ok) return std::nullopt;
    out.resize(length);
    return out;
}

std::optional<Bytes> digest(Algorithm algorithm, const void* data, std::size_t size) {
    Digest d(algorithm);
    if (!d.update(data, size)) return std::nullopt;
    return d.finish();
}

std::optional<Bytes> hmacSHA1(const void* key, std::size_t keySize, const void* data, std::size_t size) {
    static EVP_MAC* const hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!hmac) return std::nullopt;
    EVP_MAC_CTX* context = EVP_MAC_CTX_new(hmac);
    if (!context) return std::nullopt;
    char digestName[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                           OSSL_PARAM_construct_end()};
    // A null key means "keep the previous key" to OpenSSL: an empty key needs a real pointer.
    static const unsigned char noKey = 0;
    const auto* keyBytes = keySize ? static_cast<const unsigned char*>(key) : &noKey;
    Bytes out(kSHA1Length);
    std::size_t length = 0;
    bool ok = EVP_MAC_init(context, keyBytes, keySize, params) == 1 &&
              EVP_MAC_update(context, static_cast<const unsigned char*>(data), size) == 1 &&
              EVP_MAC_final(context, out.data(), &length, out.size()) == 1;
    EVP_MAC_CTX_free(context);
    if (!ok) return std::nullopt;
    out.resize(length);
    return out;
}

std::string hex(const void* data, std::size_t size, bool upper, char separator) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (separator && i) text += separator;
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

std::optional<Bytes> aesEncrypt(const Bytes& key, const void* data, std::size_t size, const AesOptions& options) {
    return aesCrypt(true, key, data, size, options);
}

std::optional<Bytes> aesDecrypt(const Bytes& key, const void* data, std::size_t size, const AesOptions& options) {
    return aesCrypt(false, key, data, size, options);
}

}  // namespace plat::crypto
