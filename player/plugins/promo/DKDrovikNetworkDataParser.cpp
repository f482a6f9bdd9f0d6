// The one file that talks to yajl for the feed. yajl 2.1 differs from the 1.0 interface the feed's
// rules were written for: options go through yajl_config, numbers come whole through the number
// callback, and only yajl_complete_parse tells a text cut short from a whole one.
#include "player/plugins/promo/DKDrovikNetworkDataParser.h"

#include <yajl/yajl_parse.h>

#include <string>

#include "platform/foundation/Log.h"

using plat::foundation::Value;

namespace {

struct Context {
    Value::Dictionary result;
    std::string key;       // empty: none
    std::string arrayKey;  // empty: none
    int depth = 0;         // containers open
    int arrayDepth = 0;    // containers open inside the current array
    bool topIsMap = false;
};

Context& context(void* ctx) {
    return *static_cast<Context*>(ctx);
}

int onMapKey(void* ctx, const unsigned char* text, size_t length) {
    Context& c = context(ctx);
    c.key.assign(reinterpret_cast<const char*>(text), length);
    return c.key.empty() ? 0 : 1;
}

int onStartArray(void* ctx) {
    Context& c = context(ctx);
    if (c.key.empty()) return 0;
    c.arrayKey = std::move(c.key);
    c.key.clear();
    static const Value kEmptyArray{Value::Array{}};
    c.result.insert_or_assign(c.arrayKey, kEmptyArray);
    ++c.depth;
    c.arrayDepth = 0;
    return 1;
}

int onEndArray(void* ctx) {
    Context& c = context(ctx);
    c.arrayKey.clear();
    --c.depth;
    return 1;
}

int onStartMap(void* ctx) {
    Context& c = context(ctx);
    if (c.depth++ == 0) c.topIsMap = true;
    ++c.arrayDepth;
    static const Value kEmptyDictionary{Value::Dictionary{}};
    if (!c.arrayKey.empty()) c.result[c.arrayKey].array()->push_back(kEmptyDictionary);
    return 1;
}

int onEndMap(void* ctx) {
    Context& c = context(ctx);
    --c.depth;
    --c.arrayDepth;
    return 1;
}

int store(Context& c, const unsigned char* text, size_t length) {
    if (c.key.empty()) return 0;
    std::string value(reinterpret_cast<const char*>(text), length);
    if (!c.arrayKey.empty()) {
        Value::Array& array = *c.result[c.arrayKey].array();
        // A value directly inside an array (after a map that set the key, too) has no
        // dictionary of its own.
        if (c.arrayDepth <= 0 || array.empty()) return 0;
        (*array.back().dictionary())[c.key] = std::move(value);
    } else {
        c.result[c.key] = std::move(value);
    }
    return 1;
}

int onString(void* ctx, const unsigned char* text, size_t length) {
    return store(context(ctx), text, length);
}

int onNumber(void* ctx, const char* text, size_t length) {
    return store(context(ctx), reinterpret_cast<const unsigned char*>(text), length);
}

const yajl_callbacks kCallbacks = {
    nullptr,  // null
    nullptr,  // boolean
    nullptr,  // integer (the number callback takes every number)
    nullptr,  // double
    onNumber, onString, onStartMap, onMapKey, onEndMap, onStartArray, onEndArray,
};

}  // namespace

std::optional<Value> DKDrovikNetworkDataParser::decodeResponse(const std::vector<std::uint8_t>& data) const {
    Context c;
    yajl_handle handle = yajl_alloc(&kCallbacks, nullptr, &c);
    yajl_config(handle, yajl_allow_comments, 1);
    yajl_status status = yajl_parse(handle, data.data(), data.size());
    if (status == yajl_status_ok) status = yajl_complete_parse(handle);
    yajl_free(handle);
    // A lone scalar at the top (true, null) passes yajl without a callback that could refuse it.
    if (status != yajl_status_ok || !c.topIsMap) {
        plat::foundation::log("ad data parse failed");
        return std::nullopt;
    }
    plat::foundation::log("ad data parse success!");
    std::optional<Value> feed;
    feed.emplace(std::move(c.result));
    return feed;
}
