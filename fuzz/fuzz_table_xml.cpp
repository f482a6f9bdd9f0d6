// Table XML files (and version-0 ones) loaded into a table.
#include "fuzz/FuzzSupport.h"
#include "tables/DKTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DKTable table;
    table.loadTable(dk::fuzz::scratchFile(data, size, ".xml"));
    return 0;
}
