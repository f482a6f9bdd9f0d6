// Both of the ad client's Base64 decoders on any text, and each codec's round trip of the bytes.
#include "fuzz/FuzzSupport.h"
#include "orbad/core/AESCrypt.h"
#include "orbad/core/OrbadHelper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orbad;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    OBNewBase64Decode(text.data(), text.size());
    dataWithBase64EncodedString(text);
    const Data bytes(data, data + size);
    if (orbadDataFromBase64EncodedString(orbadBase64EncodedString(bytes)) != bytes) __builtin_trap();
    if (dataWithBase64EncodedString(base64Encoding(bytes, size % 80)) != bytes) __builtin_trap();
    return 0;
}
