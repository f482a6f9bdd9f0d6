// XML through libxml2's text writer, without indentation.
#pragma once

#include <libxml/xmlwriter.h>

#include "engine/documents/PGFWriter.h"
#include "platform/sys/AtomicFile.h"

class PGFXMLWriter : public PGFWriter {
public:
    // The path is opened as given (libxml2 would read it as a URI). The document replaces the file
    // when the writer is destroyed, so the old one stays whole until then.
    static std::unique_ptr<PGFXMLWriter> createToFile(const char* path);
    static std::unique_ptr<PGFXMLWriter> createToMemory();
    ~PGFXMLWriter() override;

    int32_t startDocument() override;
    int32_t endDocument() override;
    int32_t startElement(const char* name) override;
    int32_t endElement() override;
    int32_t writeAttribute(const char* name, const char* value) override;
    int32_t writeTextValue(const char* text) override;
    const char* getString() override;

private:
    PGFXMLWriter() = default;

    xmlTextWriterPtr m_writer = nullptr;
    xmlBufferPtr m_buffer = nullptr;                // null for a file writer
    std::unique_ptr<plat::sys::AtomicFile> m_file;  // null for a memory writer
};
