// The content-ads client's query readers and percent decoders: no crash on any text, and
// decoding what the encoders wrote gives the text back.
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "kiosk/KSStringUtil.h"
#include "platform/foundation/UTF8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    kiosk::dictionaryFromQueryComponents(text);
    kiosk::queryComponents(text);
    KSStringUtil::dictionaryWithQueryString(text);
    KSStringUtil::stringByHtmlEscapingString(text);
    std::optional<std::string> decoded = KSStringUtil::stringByUrlDecodingString(text);
    std::optional<std::string> formDecoded = kiosk::stringByDecodingURLFormat(text);
    if (decoded.has_value() != formDecoded.has_value()) std::abort();  // "+" changes no validity
    if (plat::foundation::utf8::valid(text)) {
        if (KSStringUtil::stringByUrlDecodingString(KSStringUtil::stringByUrlEncodingString(text)) != text)
            std::abort();
        // The lenient encoder leaves "+", which then reads as a blank.
        std::string blanks(text);
        for (char& c : blanks)
            if (c == '+') c = ' ';
        if (kiosk::stringByDecodingURLFormat(kiosk::stringByEncodingURLFormat(text)) != blanks) std::abort();
    }
    return 0;
}
