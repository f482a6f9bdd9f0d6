// Metrics blob texts: any bytes as a member's name and value, and as attributes, must give text a
// strict JSON parser reads; well-formed UTF-8 without NUL must read back unchanged.
#include <yajl/yajl_tree.h>

#include <cstdlib>
#include <string>

#include "analytics/trackwell/TrackwellBlobs.h"
#include "fuzz/FuzzSupport.h"

namespace {

std::size_t replacements(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = text.find("\xef\xbf\xbd"); at != std::string::npos; at = text.find("\xef\xbf\xbd", at + 3))
        ++count;
    return count;
}

// No NUL (yajl's tree hands strings back as C strings) and nothing the escaping had to replace.
bool wellFormed(const std::string& text) {
    return text.find('\0') == std::string::npos && replacements(dk::trackwell::escapeString(text)) == replacements(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t half = text.size() / 2;
    const std::string key = text.substr(0, half), value = text.substr(half);
    dk::trackwell::AttributeList attributes{{key, value}, {value, 1.5}, {key + value, true}};
    const std::string blob = dk::trackwell::BlobWriter()
                                 .string(key, value)
                                 .raw("attrs", dk::trackwell::attributesObject(attributes))
                                 .finish();
    char error[128];
    yajl_val root = yajl_tree_parse(blob.c_str(), error, sizeof error);
    if (!root) std::abort();
    if (wellFormed(key) && wellFormed(value) && root->u.object.len > 0) {
        if (key != root->u.object.keys[0] || value != root->u.object.values[0]->u.string) std::abort();
    }
    yajl_tree_free(root);
    return 0;
}
