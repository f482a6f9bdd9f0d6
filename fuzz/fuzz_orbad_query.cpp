// The ad client's query strings and percent decoding; URL-encoded UTF-8 text decodes to itself.
#include "fuzz/FuzzSupport.h"
#include "orbad/core/OrbadHelper.h"
#include "platform/foundation/UTF8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orbad;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    obComponentsFromQueryString(text);
    obURLDecodedString(text);
    if (plat::foundation::utf8::valid(data, size) && obURLDecodedString(obURLEncodedString(text)) != text)
        __builtin_trap();
    return 0;
}
