#include "engine/documents/PGFXMLParser.h"

#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/sys/WholeFile.h"

namespace {

struct MemoryInput {
    const char* next;
    std::size_t left;
};

int readMemory(void* context, char* buffer, int length) {
    auto* in = static_cast<MemoryInput*>(context);
    std::size_t n = std::min(in->left, static_cast<std::size_t>(length));
    std::memcpy(buffer, in->next, n);
    in->next += n;
    in->left -= n;
    return static_cast<int>(n);
}

int readFile(void* context, char* buffer, int length) {
    auto* file = static_cast<FILE*>(context);
    std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(length), file);
    if (n == 0 && std::ferror(file)) return -1;
    return static_cast<int>(n);
}

struct CloseFile {
    void operator()(FILE* f) const { std::fclose(f); }
};
struct FreeParser {
    void operator()(xmlParserCtxtPtr c) const {
        // A DOCTYPE's declarations go into a document of libxml2's own, which a parse that
        // fails leaves to the caller.
        if (c->myDoc) xmlFreeDoc(c->myDoc);
        xmlFreeParserCtxt(c);
    }
};

// "&#38;" is how libxml2 hands an escaped ampersand in an attribute to a SAX handler that does
// not replace entities; it stands for a plain "&".
constexpr char kEscapedAmpersand[] = "&#38;";
constexpr std::size_t kEscapedAmpersandLength = sizeof(kEscapedAmpersand) - 1;

}  // namespace

PGFXMLParser::PGFXMLParser(lua_State* state, const char* path) : PGFParser(state), m_path(path) {}

PGFXMLParser::PGFXMLParser(lua_State* state, const char* text, std::size_t length)
    : PGFParser(state), m_text(text), m_length(length) {}

bool PGFXMLParser::parse() {
    // SAX1: attributes arrive as name/value pairs; only these four callbacks are set.
    m_sax = xmlSAXHandler{};
    m_sax.getEntity = onGetEntity;
    m_sax.startElement = onStartElement;
    m_sax.endElement = onEndElement;
    m_sax.characters = onCharacters;

    // The file is opened here so that its path is never read as a URI.
    std::unique_ptr<FILE, CloseFile> file;
    MemoryInput memory{m_text, m_length};
    xmlInputReadCallback read = readMemory;
    void* source = &memory;
    if (m_path) {
        file.reset(plat::sys::openRegularFile(m_path));  // a FIFO would hold the open for ever
        if (!file) return false;
        read = readFile;
        source = file.get();
    }
    std::unique_ptr<xmlParserCtxt, FreeParser> ctxt(
        xmlCreateIOParserCtxt(&m_sax, this, read, nullptr, source, XML_CHAR_ENCODING_NONE));
    if (!ctxt) return false;

    const int top = lua_gettop(m_L);
    // Reading makes no garbage: every table it builds is kept. Collection steps meanwhile would
    // only trace the growing document again and again.
    struct PauseCollector {
        lua_State* L;
        bool paused = lua_gc(L, LUA_GCISRUNNING, 0) && (lua_gc(L, LUA_GCSTOP, 0), true);
        ~PauseCollector() {
            if (paused) lua_gc(L, LUA_GCRESTART, 0);
        }
    } pause{m_L};
    m_ctxt = ctxt.get();
    m_stopped = false;
    m_depth = 0;
    m_collected.clear();
    xmlParseDocument(m_ctxt);
    const bool ok = m_ctxt->wellFormed && !m_stopped && m_depth == 1 && lua_gettop(m_L) == top + 1;
    m_ctxt = nullptr;
    if (!ok) lua_settop(m_L, top);
    return ok;
}

void PGFXMLParser::stop() {
    m_stopped = true;
    xmlStopParser(m_ctxt);
}

xmlEntityPtr PGFXMLParser::onGetEntity(void*, const xmlChar* name) {
    return xmlGetPredefinedEntity(name);
}

void PGFXMLParser::onStartElement(void* ctx, const xmlChar* name, const xmlChar** attributes) {
    auto* self = static_cast<PGFXMLParser*>(ctx);
    if (self->m_stopped) return;
    self->m_collected.clear();  // text before a child element is not kept
    if (!self->openElement(reinterpret_cast<const char*>(name))) {
        std::fprintf(stderr, "pgf: document nested too deeply to read (%u levels)\n", self->m_depth);
        self->stop();
        return;
    }
    if (!attributes) return;
    for (; attributes[0] && attributes[1]; attributes += 2) {
        const char* value = reinterpret_cast<const char*>(attributes[1]);
        const char* found = std::strstr(value, kEscapedAmpersand);
        if (!found) {
            self->setAttribute(reinterpret_cast<const char*>(attributes[0]), value, std::strlen(value));
            continue;
        }
        std::string& out = self->m_decoded;
        out.clear();
        do {
            out.append(value, found);
            out.push_back('&');
            value = found + kEscapedAmpersandLength;
        } while ((found = std::strstr(value, kEscapedAmpersand)));
        out.append(value);
        self->setAttribute(reinterpret_cast<const char*>(attributes[0]), out.data(), out.size());
    }
}

void PGFXMLParser::onEndElement(void* ctx, const xmlChar*) {
    auto* self = static_cast<PGFXMLParser*>(ctx);
    if (self->m_stopped) return;
    std::string& text = self->m_collected;
    if (self->closeElement(text.empty() ? nullptr : text.data(), text.size())) text.clear();
}

void PGFXMLParser::onCharacters(void* ctx, const xmlChar* chars, int length) {
    auto* self = static_cast<PGFXMLParser*>(ctx);
    if (length >= 1) self->m_collected.append(reinterpret_cast<const char*>(chars), length);
}
