#include "orbad/core/OrbadJSON.h"

namespace orbad {

std::optional<Value> OrbadJSON::decodeData(const Data& data, Error* error) {
    OrbadJSONScanner scanner(data);
    scanner.setNullObject(std::nullopt);
    std::optional<Value> value;
    scanner.scanJSONObject(&value, error);
    return value;
}

std::optional<std::string> OrbadJSON::encodeObject(const Value& object) {
    return OBJSONSerializer().serializeObject(object);
}

}  // namespace orbad

