// CSV text imported into a table.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "tables/DKTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DKTable table;
    table.importCSV(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
