// A document written as a stream of calls; subclasses produce XML (libxml2's text writer) or JSON
// (yajl) into a file or memory. A file writer writes an AtomicFile beside the document and renames
// it over the old one when closed or collected (a writer not closed is flushed then), so a write cut
// short leaves the old document whole.
#pragma once

#include <cstdint>
#include <memory>

namespace plat::sys {
class AtomicFile;
}

class PGFWriter {
public:
    virtual ~PGFWriter() = default;
    virtual int32_t startDocument() = 0;
    virtual int32_t endDocument() = 0;
    virtual int32_t startElement(const char* name) = 0;
    virtual int32_t endElement() = 0;
    virtual int32_t writeAttribute(const char* name, const char* value) = 0;
    virtual int32_t writeTextValue(const char* text) = 0;
    // The text written so far by a memory writer; null for a file writer.
    virtual const char* getString() = 0;

    // "json" makes a compact JSON writer, "json-pretty" a beautified one, anything else (or null)
    // an XML writer. A null path writes to memory; otherwise the file is created, or replaced when
    // the writer is destroyed.
    // Null when the file cannot be opened or the writer cannot be made.
    static std::unique_ptr<PGFWriter> create(const char* format, const char* path);

protected:
    // A file writer's document takes the old file's place only when the writer is destroyed, so
    // a write cut short (a kill, a full disk) leaves the old document whole. A failure is told on
    // standard error.
    static void commitDocument(plat::sys::AtomicFile& file);
};
