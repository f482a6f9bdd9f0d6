#include "engine/documents/PGFWriter.h"

#include <cstdio>
#include <cstring>

#include "engine/documents/PGFJSONWriter.h"
#include "engine/documents/PGFXMLWriter.h"
#include "platform/sys/AtomicFile.h"

std::unique_ptr<PGFWriter> PGFWriter::create(const char* format, const char* path) {
    const bool json = format && std::strcmp(format, "json") == 0;
    const bool pretty = format && std::strcmp(format, "json-pretty") == 0;
    if (json || pretty) {
        if (path) return PGFJSONWriter::createToFile(path, pretty);
        return PGFJSONWriter::createToMemory(pretty);
    }
    if (path) return PGFXMLWriter::createToFile(path);
    return PGFXMLWriter::createToMemory();
}

void PGFWriter::commitDocument(plat::sys::AtomicFile& file) {
    if (!file.commit()) std::fprintf(stderr, "pgf: cannot write to \"%s\"\n", file.path().c_str());
}
