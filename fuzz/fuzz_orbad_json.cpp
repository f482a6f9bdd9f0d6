// The ad client's JSON reader in its four modes (null kept or dropped, strict escapes or not), each
// value written back and its text read again.
#include "fuzz/FuzzSupport.h"
#include "orbad/core/OrbadJSON.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orbad;
    const Data input(data, data + size);
    for (int mode = 0; mode < 4; ++mode) {
        OrbadJSONScanner scanner(input);
        if (mode & 1) scanner.setNullObject(std::nullopt);
        scanner.setStrictEscapeCodes(mode & 2);
        std::optional<Value> value;
        Error error;
        if (!scanner.scanJSONObject(&value, &error) || !value) continue;
        std::optional<std::string> text = OrbadJSON::encodeObject(*value);
        if (!text) __builtin_trap();  // every value read can be written
        OrbadJSON::decodeData(*text);
    }
    OrbadJSONDeserializer deserializer;
    deserializer.deserializeAsDictionary(input);
    deserializer.deserializeAsArray(input);
    return 0;
}
