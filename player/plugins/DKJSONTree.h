// A service's JSON answer read with yajl 2's tree, which is freed with it.
#pragma once

#include <yajl/yajl_tree.h>

#include <memory>
#include <string>
#include <string_view>

class DKJSONTree {
public:
    // yajl wants a NUL-terminated text: a NUL inside `text` ends it early, which leaves the rest
    // unread and so (almost always) no valid JSON.
    explicit DKJSONTree(std::string_view text)
        : m_root(yajl_tree_parse(std::string(text).c_str(), nullptr, 0), &yajl_tree_free) {}

    // Null when the text is no JSON.
    yajl_val root() const { return m_root.get(); }

    // The member `key` of `object`; null when `object` is no object or has no such member.
    static yajl_val member(yajl_val object, std::string_view key) {
        if (!YAJL_IS_OBJECT(object)) return nullptr;
        for (size_t i = 0; i < YAJL_GET_OBJECT(object)->len; ++i)
            if (YAJL_GET_OBJECT(object)->keys[i] == key) return YAJL_GET_OBJECT(object)->values[i];
        return nullptr;
    }

private:
    std::unique_ptr<yajl_val_s, decltype(&yajl_tree_free)> m_root;
};
