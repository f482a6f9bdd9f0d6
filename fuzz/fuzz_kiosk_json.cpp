// The content-ads client's JSON parser, at its default nesting limit and with none (the hard cap
// only): no crash, and whatever parses is written (compact and indented) and parses back equal.
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "kiosk/KSJsonParser.h"
#include "kiosk/KSJsonWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t maxDepth : {KSJsonBase::kDefaultMaxDepth, std::size_t{0}}) {
        KSJsonParser parser;
        parser.setMaxDepth(maxDepth);
        std::optional<KSJsonValue> value = parser.objectWithString(text);
        if (!value) {
            if (parser.errorTrace().empty()) std::abort();
            continue;
        }
        for (bool humanReadable : {false, true}) {
            KSJsonWriter writer;
            writer.setMaxDepth(maxDepth);
            writer.setHumanReadable(humanReadable);
            std::optional<std::string> written = writer.stringWithObject(*value);
            if (!written) std::abort();
            KSJsonParser again;
            again.setMaxDepth(maxDepth);
            std::optional<KSJsonValue> back = again.objectWithString(*written);
            if (!back || !(*back == *value)) std::abort();
        }
    }
    return 0;
}
