// A large document read into Lua tables and written back as XML and JSON through "pgf", side by
// side with libxml2 alone doing the same work on the same file in the same run.
//
//   bench_documents [ELEMENTS] [RUNS]     (defaults: 100000 elements, best of 5 runs)
#include <libxml/parser.h>
#include <libxml/xmlwriter.h>
#include <yajl/yajl_gen.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/documents/wrap_PGF.h"

namespace {

using Clock = std::chrono::steady_clock;

// `prepare` runs before each timed run, untimed.
double bestOf(
    int runs, const std::function<void()>& work, const std::function<void()>& prepare = [] {}) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        prepare();
        auto start = Clock::now();
        work();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

void makeDocument(const std::string& path, int elements) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fprintf(f, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<game version=\"2\">");
    for (int i = 0; i < elements; ++i) {
        std::fprintf(f,
                     "<entity id=\"%d\" name=\"enemy &amp; friend %d\" x=\"%d.5\" y=\"%d\">"
                     "<sprite layer=\"%d\">images/enemy_%d.png</sprite><tag/>"
                     "<script>if hp &lt; %d then flee() end</script></entity>\n",
                     i, i, i * 3, i * 7, i % 8, i % 50, i % 100);
    }
    std::fprintf(f, "</game>\n");
    std::fclose(f);
}

// libxml2 alone: its own SAX pass with no work in the callbacks (the floor of any reader).
void libxmlSAX(const std::string& path) {
    xmlSAXHandler sax{};
    sax.startElement = [](void*, const xmlChar*, const xmlChar**) {};
    sax.endElement = [](void*, const xmlChar*) {};
    sax.characters = [](void*, const xmlChar*, int) {};
    if (xmlSAXUserParseFile(&sax, nullptr, path.c_str()) != 0) std::abort();
}

// libxml2 alone: a tree of its own, read from the file.
xmlDocPtr libxmlRead(const std::string& path) {
    xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, 0);
    if (!doc) std::abort();
    return doc;
}

void writeNode(xmlTextWriterPtr w, xmlNodePtr node) {
    xmlTextWriterStartElement(w, node->name);
    for (xmlAttrPtr a = node->properties; a; a = a->next)
        xmlTextWriterWriteAttribute(w, a->name, a->children ? a->children->content : BAD_CAST "");
    bool hasChild = false;
    for (xmlNodePtr c = node->children; c; c = c->next) hasChild |= c->type == XML_ELEMENT_NODE;
    for (xmlNodePtr c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            writeNode(w, c);
        else if (!hasChild && c->type == XML_TEXT_NODE)
            xmlTextWriterWriteString(w, c->content);
    }
    xmlTextWriterEndElement(w);
}

void libxmlWrite(xmlDocPtr doc, const std::string& path) {
    xmlTextWriterPtr w = xmlNewTextWriterFilename(path.c_str(), 0);
    xmlTextWriterStartDocument(w, nullptr, "UTF-8", nullptr);
    writeNode(w, xmlDocGetRootElement(doc));
    xmlTextWriterEndDocument(w);
    xmlFreeTextWriter(w);
}

void yajlString(yajl_gen g, const xmlChar* s) {
    yajl_gen_string(g, s, xmlStrlen(s));
}

void jsonNode(yajl_gen g, xmlNodePtr node) {
    yajl_gen_map_open(g);
    yajlString(g, BAD_CAST "_type");
    yajlString(g, node->name);
    for (xmlAttrPtr a = node->properties; a; a = a->next) {
        yajlString(g, a->name);
        yajlString(g, a->children ? a->children->content : BAD_CAST "");
    }
    bool open = false;
    for (xmlNodePtr c = node->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (!open) {
            yajlString(g, BAD_CAST "_children");
            yajl_gen_array_open(g);
            open = true;
        }
        jsonNode(g, c);
    }
    if (open) {
        yajl_gen_array_close(g);
    } else if (node->children && node->children->type == XML_TEXT_NODE) {
        yajlString(g, BAD_CAST "_text");
        yajlString(g, node->children->content);
    }
    yajl_gen_map_close(g);
}

void yajlWrite(xmlDocPtr doc, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    yajl_gen g = yajl_gen_alloc(nullptr);
    yajl_gen_config(g, yajl_gen_print_callback,
                    static_cast<yajl_print_t>([](void* ctx, const char* s, size_t n) {
                        std::fwrite(s, 1, n, static_cast<FILE*>(ctx));
                    }),
                    f);
    jsonNode(g, xmlDocGetRootElement(doc));
    yajl_gen_free(g);
    std::fclose(f);
}

const char* kScript = R"(
local function emit(w, t)
  w:startElement(t[0])
  for k, v in pairs(t) do
    if type(k) == 'string' then w:writeAttribute(k, v) end
  end
  local first = t[1]
  if type(first) == 'string' then
    w:writeTextValue(first)
  else
    local i = 1
    while t[i] do emit(w, t[i]); i = i + 1 end
  end
  w:endElement()
end
function readDocument(path)
  doc = pgf.loadFile(path)
  assert(doc, 'not read')
end
function writeDocument(path, format)
  local w = pgf.writer.newToFile(path, format)
  w:startDocument(); emit(w, doc); w:endDocument()
  w:close()
end
)";

void call(lua_State* L, const char* function, const std::string& path, const char* format = nullptr) {
    lua_getglobal(L, function);
    lua_pushstring(L, path.c_str());
    if (format)
        lua_pushstring(L, format);
    else
        lua_pushnil(L);
    if (lua_pcall(L, 2, 0, 0)) {
        std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int elements = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const auto dir = std::filesystem::temp_directory_path() / "bench_documents";
    std::filesystem::create_directories(dir);
    const std::string input = (dir / "in.xml").string();
    const std::string outXML = (dir / "out.xml").string();
    const std::string outJSON = (dir / "out.json").string();
    makeDocument(input, elements);
    const double megabytes = std::filesystem::file_size(input) / 1e6;

    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    lua_pushcfunction(L, luaopen_PGF);
    lua_call(L, 0, 0);
    if (luaL_dostring(L, kScript)) return 1;

    xmlDocPtr doc = libxmlRead(input);
    const double sax = bestOf(runs, [&] { libxmlSAX(input); });
    const double tree = bestOf(runs, [&] { xmlFreeDoc(libxmlRead(input)); });
    const double pgfRead = bestOf(
        runs, [&] { call(L, "readDocument", input); },
        [&] {
            // The previous reading's tables go before the clock starts.
            lua_pushnil(L);
            lua_setglobal(L, "doc");
            lua_gc(L, LUA_GCCOLLECT, 0);
        });
    const double xmlWrite = bestOf(runs, [&] { libxmlWrite(doc, outXML); });
    const double pgfWriteXML = bestOf(runs, [&] { call(L, "writeDocument", outXML); });
    const double jsonWrite = bestOf(runs, [&] { yajlWrite(doc, outJSON); });
    const double pgfWriteJSON = bestOf(runs, [&] { call(L, "writeDocument", outJSON, "json"); });
    xmlFreeDoc(doc);
    lua_close(L);

    std::printf("document: %d elements, %.1f MB; best of %d runs\n", elements * 4 + 1, megabytes, runs);
    std::printf("%-34s %9s %9s\n", "", "ms", "ratio");
    std::printf("%-34s %9.1f\n", "libxml2 SAX, empty callbacks", sax);
    std::printf("%-34s %9.1f\n", "libxml2 tree (xmlReadFile)", tree);
    std::printf("%-34s %9.1f %8.2fx SAX  %.2fx tree\n", "pgf.loadFile (Lua tables)", pgfRead, pgfRead / sax,
                pgfRead / tree);
    std::printf("%-34s %9.1f\n", "libxml2 text writer from its tree", xmlWrite);
    std::printf("%-34s %9.1f %8.2fx\n", "pgf XML writer from Lua tables", pgfWriteXML,
                pgfWriteXML / xmlWrite);
    std::printf("%-34s %9.1f\n", "yajl from libxml2's tree", jsonWrite);
    std::printf("%-34s %9.1f %8.2fx\n", "pgf JSON writer from Lua tables", pgfWriteJSON,
                pgfWriteJSON / jsonWrite);
    std::printf("%-34s %9.1f %9.1f %8.2fx\n", "read + XML write: libxml2 / pgf", tree + xmlWrite,
                pgfRead + pgfWriteXML, (pgfRead + pgfWriteXML) / (tree + xmlWrite));
    std::filesystem::remove_all(dir);
    return 0;
}
