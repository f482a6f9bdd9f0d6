// JSON through yajl's generator: each element an object with "_type", its attributes, "_text"
// and a "_children" array. It keeps its own element stack and the generator's depth, so closing more
// than was opened, an element yajl refuses, or nesting past yajl's limit drops that element and
// keeps the output well formed instead of corrupting yajl's state.
#pragma once

#include <yajl/yajl_gen.h>

#include <cstdio>
#include <vector>

#include "engine/documents/PGFWriter.h"
#include "platform/sys/AtomicFile.h"

namespace dk::documents {

// Prints the message of a yajl generator status (statuses 1 to 6) on standard output; 1 for
// success, 0 otherwise.
int32_t checkYajlStatus(int status);

}  // namespace dk::documents

class PGFJSONWriter : public PGFWriter {
public:
    static std::unique_ptr<PGFJSONWriter> createToFile(const char* path, bool beautify);
    static std::unique_ptr<PGFJSONWriter> createToMemory(bool beautify);
    ~PGFJSONWriter() override;

    int32_t startDocument() override;
    int32_t endDocument() override;
    int32_t startElement(const char* name) override;
    int32_t endElement() override;
    int32_t writeAttribute(const char* name, const char* value) override;
    int32_t writeTextValue(const char* text) override;
    const char* getString() override;

    // States of an open element.
    enum : int32_t {
        kNotOpened = -1,      // its object could not be started: it and its content are dropped
        kAttributes = 0,      // attributes being written
        kChildrenOpen = 1,    // its "_children" array is open
        kChildrenClosed = 2,  // an attribute after children closed the array
    };

private:
    explicit PGFJSONWriter(bool beautify);
    bool configure(FILE* file);
    int32_t writeString(const char* s);
    int32_t open(yajl_gen_status (*opener)(yajl_gen));
    int32_t close(yajl_gen_status (*closer)(yajl_gen));

    yajl_gen m_gen = nullptr;
    bool m_beautify;
    const char* m_indent = "\t";
    std::unique_ptr<plat::sys::AtomicFile> m_file;  // null for a memory writer
    std::vector<int32_t> m_states;
    // Containers open in the generator. Tracked here because yajl reads past its state array
    // once its depth limit is reached or it closes more than it opened.
    unsigned m_depth = 0;
};
