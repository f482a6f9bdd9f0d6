#include "engine/documents/PGFJSONWriter.h"

#include <cstring>

namespace {

// yajl's own limit is 128 levels; it must never be reached (see m_depth).
constexpr unsigned kMaxDepth = 127;

void printToFile(void* context, const char* text, size_t length) {
    std::fwrite(text, 1, length, static_cast<FILE*>(context));
}

}  // namespace

namespace dk::documents {

int32_t checkYajlStatus(int status) {
    static const char* const messages[] = {
        nullptr,
        "keys must be strings",
        "max depth exceeded",
        "in error state",
        "complete document has been generated",
        "invalid number",
        "no internal buffer",
    };
    if (status == yajl_gen_status_ok) return 1;
    if (status >= 1 && status <= 6) std::printf("%s\n", messages[status]);
    return 0;
}

}  // namespace dk::documents

using dk::documents::checkYajlStatus;

PGFJSONWriter::PGFJSONWriter(bool beautify) : m_beautify(beautify) {}

bool PGFJSONWriter::configure(FILE* file) {
    m_gen = yajl_gen_alloc(nullptr);
    if (!m_gen) return false;
    if (m_beautify) {
        yajl_gen_config(m_gen, yajl_gen_beautify, 1);
        yajl_gen_config(m_gen, yajl_gen_indent_string, m_indent);
    }
    if (file) yajl_gen_config(m_gen, yajl_gen_print_callback, printToFile, file);
    return true;
}

std::unique_ptr<PGFJSONWriter> PGFJSONWriter::createToFile(const char* path, bool beautify) {
    // Given to the writer only once it is made: a writer holding a file puts it in place.
    auto file = std::make_unique<plat::sys::AtomicFile>(path);
    if (!file->stream()) return nullptr;
    std::unique_ptr<PGFJSONWriter> writer(new PGFJSONWriter(beautify));
    if (!writer->configure(file->stream())) return nullptr;
    writer->m_file = std::move(file);
    return writer;
}

std::unique_ptr<PGFJSONWriter> PGFJSONWriter::createToMemory(bool beautify) {
    std::unique_ptr<PGFJSONWriter> writer(new PGFJSONWriter(beautify));
    if (!writer->configure(nullptr)) return nullptr;
    return writer;
}

PGFJSONWriter::~PGFJSONWriter() {
    if (m_gen) yajl_gen_free(m_gen);
    if (m_file) commitDocument(*m_file);
}

int32_t PGFJSONWriter::writeString(const char* s) {
    return checkYajlStatus(yajl_gen_string(m_gen, reinterpret_cast<const unsigned char*>(s), std::strlen(s)));
}

int32_t PGFJSONWriter::open(yajl_gen_status (*opener)(yajl_gen)) {
    if (m_depth >= kMaxDepth) return checkYajlStatus(yajl_max_depth_exceeded);
    int32_t ok = checkYajlStatus(opener(m_gen));
    if (ok) ++m_depth;
    return ok;
}

int32_t PGFJSONWriter::close(yajl_gen_status (*closer)(yajl_gen)) {
    if (m_depth == 0) return 0;
    int32_t ok = checkYajlStatus(closer(m_gen));
    if (ok) --m_depth;
    return ok;
}

int32_t PGFJSONWriter::startDocument() {
    m_states.clear();
    return 0;
}

int32_t PGFJSONWriter::endDocument() {
    return 0;
}

int32_t PGFJSONWriter::startElement(const char* name) {
    if (!m_states.empty()) {
        int32_t& top = m_states.back();
        if (top == kNotOpened) {
            m_states.push_back(kNotOpened);
            return 0;
        }
        if (top == kAttributes) {
            // The parent's array and this object must both fit, or the key would be left bare.
            if (m_depth + 2 > kMaxDepth) {
                m_states.push_back(kNotOpened);
                return checkYajlStatus(yajl_max_depth_exceeded);
            }
            writeString("_children");
            open(yajl_gen_array_open);
            top = kChildrenOpen;
        }
    }
    if (!open(yajl_gen_map_open)) {
        // Nothing was opened: writing "_type" now would land in the parent's object.
        m_states.push_back(kNotOpened);
        return 0;
    }
    m_states.push_back(kAttributes);
    return writeAttribute("_type", name);
}

int32_t PGFJSONWriter::endElement() {
    if (m_states.empty()) return 0;
    const int32_t top = m_states.back();
    m_states.pop_back();
    if (top == kNotOpened) return 0;
    if (top == kChildrenOpen) close(yajl_gen_array_close);
    return close(yajl_gen_map_close);
}

int32_t PGFJSONWriter::writeAttribute(const char* name, const char* value) {
    if (m_states.empty() || m_states.back() == kNotOpened) return 0;
    if (m_states.back() == kChildrenOpen) {
        close(yajl_gen_array_close);
        m_states.back() = kChildrenClosed;
    }
    writeString(name);
    return writeString(value);
}

int32_t PGFJSONWriter::writeTextValue(const char* text) {
    if (m_states.empty() || m_states.back() == kNotOpened) return 0;
    writeString("_text");
    return writeString(text);
}

const char* PGFJSONWriter::getString() {
    const unsigned char* buffer = nullptr;
    size_t length = 0;
    if (!checkYajlStatus(yajl_gen_get_buf(m_gen, &buffer, &length))) return nullptr;
    return reinterpret_cast<const char*>(buffer);
}
