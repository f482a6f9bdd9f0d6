#include "engine/documents/PGFXMLWriter.h"

namespace {
const xmlChar* xml(const char* s) {
    return reinterpret_cast<const xmlChar*>(s);
}
}  // namespace

std::unique_ptr<PGFXMLWriter> PGFXMLWriter::createToFile(const char* path) {
    // Given to the writer only once it is made: a writer holding a file puts it in place.
    auto file = std::make_unique<plat::sys::AtomicFile>(path);
    if (!file->stream()) return nullptr;
    // The output buffer flushes the stream when closed but leaves closing it to us.
    xmlOutputBufferPtr out = xmlOutputBufferCreateFile(file->stream(), nullptr);
    if (!out) return nullptr;
    std::unique_ptr<PGFXMLWriter> writer(new PGFXMLWriter);
    writer->m_writer = xmlNewTextWriter(out);
    if (!writer->m_writer) {
        xmlOutputBufferClose(out);
        return nullptr;
    }
    writer->m_file = std::move(file);
    return writer;
}

std::unique_ptr<PGFXMLWriter> PGFXMLWriter::createToMemory() {
    std::unique_ptr<PGFXMLWriter> writer(new PGFXMLWriter);
    writer->m_buffer = xmlBufferCreate();
    if (!writer->m_buffer) return nullptr;
    writer->m_writer = xmlNewTextWriterMemory(writer->m_buffer, 0);
    if (!writer->m_writer) return nullptr;
    return writer;
}

PGFXMLWriter::~PGFXMLWriter() {
    if (m_writer) xmlFreeTextWriter(m_writer);
    if (m_buffer) xmlBufferFree(m_buffer);
    if (m_file) commitDocument(*m_file);
}

int32_t PGFXMLWriter::startDocument() {
    return xmlTextWriterStartDocument(m_writer, nullptr, "UTF-8", nullptr);
}

int32_t PGFXMLWriter::endDocument() {
    return xmlTextWriterEndDocument(m_writer);
}

int32_t PGFXMLWriter::startElement(const char* name) {
    return xmlTextWriterStartElement(m_writer, xml(name));
}

int32_t PGFXMLWriter::endElement() {
    return xmlTextWriterEndElement(m_writer);
}

int32_t PGFXMLWriter::writeAttribute(const char* name, const char* value) {
    return xmlTextWriterWriteAttribute(m_writer, xml(name), xml(value));
}

int32_t PGFXMLWriter::writeTextValue(const char* text) {
    return xmlTextWriterWriteString(m_writer, xml(text));
}

const char* PGFXMLWriter::getString() {
    if (!m_buffer) return nullptr;
    xmlTextWriterFlush(m_writer);
    return reinterpret_cast<const char*>(xmlBufferContent(m_buffer));
}
