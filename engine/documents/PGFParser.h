// Builds a document's element tables directly on a Lua stack, one element at a time. The reader
// keeps Lua in its core on purpose: building the tables during the SAX pass, rather than a C++ tree
// converted afterwards, is measurably faster (bench/documents, docs/PERFORMANCE.md).
#pragma once

#include <lua.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

// Element table: [0] = name, attribute names as string keys, children at 1, 2, ...; a leaf's text
// at 1. A parser leaves the root table on top of the stack when parse() succeeds.
class PGFParser {
public:
    explicit PGFParser(lua_State* L);
    virtual ~PGFParser() = default;

    // True when the document was read: its root table is then on top of the stack, and the stack
    // is otherwise as it was. False leaves the stack as it was.
    virtual bool parse() = 0;

protected:
    // Pushes the new element's table; false when the Lua stack cannot grow for it.
    bool openElement(const char* name);
    // Sets an attribute on the element on top of the stack.
    void setAttribute(const char* name, const char* value, std::size_t length);
    // Gives a leaf its text (ignored when the element has children; true when taken) and hands
    // the element to its parent; the root stays on the stack.
    bool closeElement(const char* text, std::size_t length);

    uint32_t m_depth = 0;
    std::vector<uint32_t> m_childCounters;
    lua_State* m_L;
};
