// Property lists, XML or binary, read into a Value and written back in both forms.
#include "fuzz/FuzzSupport.h"
#include "platform/foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace plat::foundation;
    std::optional<Value> value = parsePropertyList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!value) return 0;
    value->canonicalJSON();
    for (PropertyListFormat format : {PropertyListFormat::Xml, PropertyListFormat::Binary})
        if (std::optional<std::string> bytes = serializePropertyList(*value, format)) parsePropertyList(*bytes);
    return 0;
}
