// Reads an XML file or string into element tables, driven by libxml2's SAX1 interface: one pass that
// builds the tables directly on the Lua stack ([0] the name, attributes as string keys, children at
// 1, 2, ...; a leaf's text at 1), growing the stack per level. It is the one core of a Lua module that
// keeps Lua, because it measured faster than a C++ tree converted afterwards (bench/documents). Leaf
// text is gathered whole however libxml2 splits it; the collector is paused for the read (every table
// built is kept). Files are opened by us, never by libxml2 (which reads a path as a URI); a read that
// fails frees the document libxml2 keeps a DOCTYPE's declarations in.
#pragma once

#include <libxml/parser.h>

#include <string>

#include "engine/documents/PGFParser.h"

class PGFXMLParser : public PGFParser {
public:
    // Reads the file at `path`, taken literally (no URI decoding).
    PGFXMLParser(lua_State* L, const char* path);
    // Reads `length` bytes of XML text; the text must outlive parse().
    PGFXMLParser(lua_State* L, const char* text, std::size_t length);

    bool parse() override;

private:
    static xmlEntityPtr onGetEntity(void* ctx, const xmlChar* name);
    static void onStartElement(void* ctx, const xmlChar* name, const xmlChar** attributes);
    static void onEndElement(void* ctx, const xmlChar* name);
    static void onCharacters(void* ctx, const xmlChar* chars, int length);

    void stop();

    const char* m_text = nullptr;
    std::size_t m_length = 0;
    const char* m_path = nullptr;
    xmlSAXHandler m_sax{};
    // Text of the element being read; SAX delivers it in pieces and a leaf's text is kept whole.
    std::string m_collected;
    std::string m_decoded;  // scratch for attribute values holding "&#38;"
    xmlParserCtxtPtr m_ctxt = nullptr;
    bool m_stopped = false;
};
