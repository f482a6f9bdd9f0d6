// Everything that knows libplist 2.2 lives here, and with it the 2001 epoch of its dates.
#include "platform/foundation/PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/UTF8.h"
#include "platform/sys/AtomicFile.h"

namespace plat::foundation {

namespace {

// Seconds from 1970-01-01 to 2001-01-01, where property-list dates count from.
constexpr double kEpoch2001 = 978307200.0;
constexpr int kMaxDepth = 512;

struct PlistFree {
    void operator()(void* node) const { plist_free(node); }
};
using Node = std::unique_ptr<void, PlistFree>;

// libplist 2.2's date calls take and give whole seconds as an int32 (1932 to 2069) and give the
// fraction without its sign. Its binary form holds the date as it is, a big-endian double of
// seconds since 2001, so dates cross through that form: a one-item array written out, and a
// one-object file read in.
std::optional<double> dateSince2001(plist_t node) {
    Node array(plist_new_array());
    plist_array_append_item(array.get(), plist_copy(node));
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(array.get(), &bytes, &length);
    std::unique_ptr<char, void (*)(char*)> owner(bytes, plist_to_bin_free);
    // "bplist00", the array (0xA1, one 1-byte reference), the date (0x33, eight bytes).
    const auto* b = reinterpret_cast<const uint8_t*>(bytes);
    if (!b || length < 19 || b[8] != 0xA1 || b[10] != 0x33) return std::nullopt;
    uint64_t bits = 0;
    for (int i = 11; i < 19; ++i) bits = bits << 8 | b[i];
    return std::bit_cast<double>(bits);
}

plist_t newDate(double since2001) {
    uint8_t file[50] = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0x33};
    const uint64_t bits = std::bit_cast<uint64_t>(since2001);
    for (int i = 0; i < 8; ++i) file[9 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    file[17] = 8;  // the offset table: one object, at 8
    // The trailer: 1-byte offsets and references, one object, the top one 0, the table at 17.
    uint8_t* trailer = file + 18;
    trailer[6] = 1;
    trailer[7] = 1;
    trailer[15] = 1;
    trailer[31] = 17;
    plist_t node = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(file), sizeof file, &node);
    return node;
}

// libplist 2.2 frees (and writes) recursively, expands an object its binary form shares each time
// it is referenced, asserts (ending the process) on a dictionary key with a NUL in it and cuts any
// other string at one. So a small file could nest deep enough to overflow the stack, unfold to
// gigabytes, abort or lose part of a string: these are looked for here first. What this cannot make sense of is left to libplist to refuse.
class Limits {
public:
    explicit Limits(std::string_view bytes) : m_b(reinterpret_cast<const uint8_t*>(bytes.data())), m_size(bytes.size()) {}

    bool check(std::string& problem) {
        const bool binary = m_size >= 8 && std::string_view(reinterpret_cast<const char*>(m_b), 8) == "bplist00";
        if (binary ? binaryWithin() : xmlWithin()) return true;
        problem = m_problem;
        return false;
    }

private:
    bool refuse(const char* problem) {
        m_problem = problem;
        return false;
    }

    // Element nesting, counted on the tags; comments, CDATA and declarations aside.
    bool xmlWithin() {
        std::string_view text(reinterpret_cast<const char*>(m_b), m_size);
        int depth = 0;
        for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
            const std::string_view rest = text.substr(at);
            if (rest.starts_with("<!--") || rest.starts_with("<![CDATA[")) {
                const size_t end = text.find(rest[2] == '-' ? "-->" : "]]>", at);
                if (end == std::string_view::npos) return true;
                at = end;
            } else if (rest.starts_with("</")) {
                --depth;
            } else if (!rest.starts_with("<?") && !rest.starts_with("<!")) {
                const size_t end = text.find('>', at);
                if (end == std::string_view::npos) return true;
                if (text[end - 1] != '/' && ++depth > kMaxDepth) return refuse("nested too deeply");
                at = end;
            }
        }
        return true;
    }

    uint64_t number(size_t at, size_t width) const {
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i) v = v << 8 | m_b[at + i];
        return v;
    }

    bool binaryWithin() {
        if (m_size < 8 + 32) return true;
        const size_t trailer = m_size - 32;
        m_offsetWidth = m_b[trailer + 6];
        m_refWidth = m_b[trailer + 7];
        const uint64_t objects = number(trailer + 8, 8), top = number(trailer + 16, 8);
        m_table = number(trailer + 24, 8);
        auto width = [](size_t w) { return w == 1 || w == 2 || w == 4 || w == 8; };
        if (!width(m_offsetWidth) || !width(m_refWidth) || objects == 0 || objects > m_size || top >= objects ||
            m_table < 8 || m_table > trailer || (trailer - m_table) / m_offsetWidth < objects)
            return true;
        m_objects = objects;
        m_nodes.assign(objects, 0);
        m_height.assign(objects, 0);
        m_state.assign(objects, 0);
        uint64_t nodes = 0;
        int height = 0;
        if (!measure(top, 1, nodes, height)) return false;
        // A file without shared containers unfolds to at most one value per reference it holds.
        if (nodes > 16 * static_cast<uint64_t>(m_size) + 4096) return refuse("shared parts that unfold too far");
        return true;
    }

    // Values the object unfolds to and its height; false when refused.
    bool measure(uint64_t object, int depth, uint64_t& nodes, int& height) {
        if (depth > kMaxDepth) return refuse("nested too deeply");
        if (m_state[object] == 2) {
            nodes = m_nodes[object];
            height = m_height[object];
            return depth + height - 1 <= kMaxDepth || refuse("nested too deeply");
        }
        if (m_state[object] == 1) return refuse("a container inside itself");
        // libplist 2.2 cuts a string at its first NUL; the XML reader and the writer refuse one.
        if (stringHasNul(object)) return refuse("a string with a NUL character");
        m_state[object] = 1;
        nodes = 1;
        height = 1;
        const uint64_t offset = number(m_table + object * m_offsetWidth, m_offsetWidth);
        uint64_t count = 0;
        size_t refs = 0;
        bool dictionary = false;
        if (containerAt(offset, count, refs, dictionary)) {
            for (uint64_t i = 0; i < count; ++i) {
                const uint64_t child = number(refs + i * m_refWidth, m_refWidth);
                if (child >= m_objects) continue;
                if (dictionary && i < count / 2 && stringHasNul(child)) return refuse("a key with a NUL character");
                uint64_t childNodes = 0;
                int childHeight = 0;
                if (!measure(child, depth + 1, childNodes, childHeight)) return false;
                nodes = std::min<uint64_t>(nodes + childNodes, uint64_t(1) << 62);
                height = std::max(height, childHeight + 1);
            }
        }
        m_nodes[object] = nodes;
        m_height[object] = height;
        m_state[object] = 2;
        return true;
    }

    // The object at `offset` when it is of one of `types`: its type, and its `count` and where
    // what it counts begins (`at`). False when it is not, or does not fit before the offset table.
    bool objectAt(uint64_t offset, std::initializer_list<int> types, int& type, uint64_t& count, size_t& at) const {
        if (offset < 8 || offset >= m_table) return false;
        type = m_b[offset] >> 4;
        if (std::find(types.begin(), types.end(), type) == types.end()) return false;
        count = m_b[offset] & 0xF;
        at = offset + 1;
        if (count == 0xF) {
            if (at >= m_table || (m_b[at] >> 4) != 0x1 || (m_b[at] & 0xF) > 3) return false;
            const size_t width = size_t(1) << (m_b[at] & 0xF);
            if (at + 1 + width > m_table) return false;
            count = number(at + 1, width);
            at += 1 + width;
        }
        return true;
    }

    // An array, set or dictionary: its references, `count` of them from `refs` (a dictionary's
    // keys, then its values).
    bool containerAt(uint64_t offset, uint64_t& count, size_t& refs, bool& dictionary) const {
        int type = 0;
        if (!objectAt(offset, {0xA, 0xB, 0xC, 0xD}, type, count, refs)) return false;
        dictionary = type == 0xD;
        if (dictionary) count *= 2;
        return count <= (m_table - refs) / m_refWidth;
    }

    // A string of one-byte (ASCII, UTF-8) or two-byte (UTF-16) units with a zero unit.
    bool stringHasNul(uint64_t object) const {
        int type = 0;
        uint64_t units = 0;
        size_t at = 0;
        const uint64_t offset = number(m_table + object * m_offsetWidth, m_offsetWidth);
        if (!objectAt(offset, {0x5, 0x6, 0x7}, type, units, at)) return false;
        const size_t unit = type == 0x6 ? 2 : 1;
        if (units > (m_table - at) / unit) return false;
        for (uint64_t i = 0; i < units; ++i)
            if (m_b[at + i * unit] == 0 && (unit == 1 || m_b[at + i * unit + 1] == 0)) return true;
        return false;
    }

    const uint8_t* m_b;
    size_t m_size;
    size_t m_offsetWidth = 0, m_refWidth = 0;
    uint64_t m_table = 0, m_objects = 0;
    std::vector<uint64_t> m_nodes;
    std::vector<int> m_height;
    std::vector<uint8_t> m_state;  // 0 not seen, 1 being measured, 2 measured
    std::string m_problem;
};

std::optional<Value> toValue(plist_t node, int depth, std::string& problem) {
    if (depth > kMaxDepth) {
        problem = "nested too deeply";
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t v = 0;
        plist_get_bool_val(node, &v);
        return std::make_optional<Value>(v != 0);
    }
    case PLIST_UINT:
    case PLIST_UID: {
        uint64_t v = 0;
        if (plist_get_node_type(node) == PLIST_UID)
            plist_get_uid_val(node, &v);
        else
            plist_get_uint_val(node, &v);
        return std::make_optional<Value>(static_cast<int64_t>(v));
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        return std::make_optional<Value>(v);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        std::string text(s ? s : "", s ? length : 0);
        if (!utf8::valid(text)) {
            problem = "a string that is not UTF-8";
            return std::nullopt;
        }
        return std::make_optional<Value>(std::move(text));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const auto* bytes = reinterpret_cast<const uint8_t*>(plist_get_data_ptr(node, &length));
        return std::make_optional<Value>(bytes ? Data(bytes, bytes + length) : Data());
    }
    case PLIST_DATE: {
        std::optional<double> since2001 = dateSince2001(node);
        if (!since2001) {
            problem = "a date libplist cannot give";
            return std::nullopt;
        }
        return std::make_optional<Value>(Date{*since2001 + kEpoch2001});
    }
    case PLIST_ARRAY: {
        Value::Array items;
        const uint32_t size = plist_array_get_size(node);
        items.reserve(size);
        for (uint32_t i = 0; i < size; ++i) {
            std::optional<Value> item = toValue(plist_array_get_item(node, i), depth + 1, problem);
            if (!item) return std::nullopt;
            items.push_back(std::move(*item));
        }
        return std::make_optional<Value>(std::move(items));
    }
    case PLIST_DICT: {
        Value::Dictionary entries;
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        std::optional<Value> result;
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter, &key, &item);
            std::unique_ptr<char, decltype(&std::free)> keyOwner(key, &std::free);
            if (!item) {
                result = Value(std::move(entries));
                break;
            }
            if (key && !utf8::valid(key)) {
                problem = "a key that is not UTF-8";
                break;
            }
            std::optional<Value> v = toValue(item, depth + 1, problem);
            if (!v) break;
            entries.insert_or_assign(key ? key : "", std::move(*v));
        }
        std::free(iter);
        return result;
    }
    default: problem = "an unknown kind of value"; return std::nullopt;
    }
}

plist_t toPlist(const Value& v, std::string& problem) {
    // libplist takes any bytes, and its binary writer cuts a string at the first it cannot convert.
    auto plainText = [&](const std::string& s) {
        if (s.find('\0') != std::string::npos)
            problem = "a string with a NUL character";
        else if (!utf8::valid(s))
            problem = "a string that is not UTF-8";
        else
            return true;
        return false;
    };
    switch (v.type()) {
    case Value::Type::Null: problem = "a null"; return nullptr;
    case Value::Type::Bool: return plist_new_bool(v.boolValue());
    case Value::Type::Integer: return plist_new_uint(static_cast<uint64_t>(v.intValue()));
    case Value::Type::Real: return plist_new_real(v.doubleValue());
    case Value::Type::String: return plainText(*v.string()) ? plist_new_string(v.string()->c_str()) : nullptr;
    case Value::Type::Data:
        return plist_new_data(reinterpret_cast<const char*>(v.data()->data()), v.data()->size());
    case Value::Type::Date: {
        // Years 0 to 9999, which libplist's XML writer and the canonical text both show.
        const double seconds = v.date()->seconds;
        plist_t node = seconds >= -62167219200.0 && seconds < 253402300800.0 ? newDate(seconds - kEpoch2001) : nullptr;
        if (!node) problem = "a date outside the years 0 to 9999";
        return node;
    }
    case Value::Type::Array: {
        Node array(plist_new_array());
        for (const Value& item : *v.array()) {
            plist_t node = toPlist(item, problem);
            if (!node) return nullptr;
            plist_array_append_item(array.get(), node);
        }
        return array.release();
    }
    case Value::Type::Dictionary: {
        Node dict(plist_new_dict());
        for (const auto& [key, item] : *v.dictionary()) {
            if (!plainText(key)) return nullptr;
            plist_t node = toPlist(item, problem);
            if (!node) return nullptr;
            plist_dict_set_item(dict.get(), key.c_str(), node);
        }
        return dict.release();
    }
    }
    return nullptr;
}

std::string prefixed(const std::string& path, const std::string& message) {
    return path + ": " + message;
}

}  // namespace

std::optional<Value> parsePropertyList(std::string_view bytes, Error* error, PropertyListFormat* format) {
    plist_t root = nullptr;
    std::string problem;
    if (!Limits(bytes).check(problem)) {
        fail(error, kPropertyListReadCorruptError, "not a property list: " + problem);
        return std::nullopt;
    }
    if (!bytes.empty() && bytes.size() <= UINT32_MAX)
        plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    Node owner(root);
    if (!root) {
        fail(error, kPropertyListReadCorruptError, "not a property list");
        return std::nullopt;
    }
    std::optional<Value> value = toValue(root, 0, problem);
    if (!value) {
        fail(error, kPropertyListReadCorruptError, "not a property list: " + problem);
        return std::nullopt;
    }
    if (format)
        *format = plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size())) ? PropertyListFormat::Binary
                                                                                      : PropertyListFormat::Xml;
    return value;
}

std::optional<Value> readPropertyList(const std::string& path, Error* error, PropertyListFormat* format) {
    return readPropertyList(path, plat::sys::kPropertyListCap, error, format);
}

std::optional<Value> readPropertyList(const std::string& path, const plat::sys::FileCap& cap, Error* error,
                                      PropertyListFormat* format) {
    const std::optional<std::string> bytes = readFile(path, cap, error);
    if (!bytes) return std::nullopt;
    std::optional<Value> value = parsePropertyList(*bytes, error, format);
    if (!value && error) error->message = prefixed(path, error->message);
    return value;
}

std::optional<std::string> serializePropertyList(const Value& value, PropertyListFormat format, Error* error) {
    std::string problem;
    Node root(toPlist(value, problem));
    if (!root) {
        fail(error, kPropertyListWriteInvalidError, "a property list cannot hold " + problem);
        return std::nullopt;
    }
    char* bytes = nullptr;
    uint32_t length = 0;
    if (format == PropertyListFormat::Xml) {
        plist_to_xml(root.get(), &bytes, &length);
    } else {
        plist_to_bin(root.get(), &bytes, &length);
    }
    if (!bytes) {
        fail(error, kPropertyListWriteInvalidError, "libplist made no property list");
        return std::nullopt;
    }
    std::string out(bytes, length);
    if (format == PropertyListFormat::Xml)
        plist_to_xml_free(bytes);
    else
        plist_to_bin_free(bytes);
    return out;
}

bool isPropertyListValue(const Value& value, Error* error) {
    std::string problem;
    if (Node(toPlist(value, problem))) return true;
    return fail(error, kPropertyListWriteInvalidError, "a property list cannot hold " + problem);
}

bool writePropertyList(const std::string& path, const Value& value, PropertyListFormat format, Error* error) {
    std::optional<std::string> bytes = serializePropertyList(value, format, error);
    if (!bytes) {
        if (error) error->message = prefixed(path, error->message);
        return false;
    }
    errno = 0;
    if (plat::sys::writeFileAtomically(path, *bytes)) return true;
    const int saved = errno;
    return fail(error, kFileWriteUnknownError,
                prefixed(path, std::string("cannot be written (") + (saved ? std::strerror(saved) : "failed") + ")"));
}

}  // namespace plat::foundation
