// Game archives: DK_ExtractGameAtPath unpacking a ZIP file into an empty scratch directory.
#include <unistd.h>

#include <filesystem>

#include "engine/DKEngine.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string archive = dk::fuzz::scratchFile(data, size, ".zip");
    const std::filesystem::path out = dk::fuzz::scratchDir() + "/out";
    std::error_code ignored;
    std::filesystem::remove_all(out, ignored);
    std::filesystem::create_directory(out, ignored);
    // The fuzzer writes its corpus by relative paths: the directory is changed back after each run.
    static const std::filesystem::path home = std::filesystem::current_path();
    if (chdir(out.c_str()) != 0) return 0;
    DK_ExtractGameAtPath(archive.c_str());
    if (chdir(home.c_str()) != 0) return 0;
    return 0;
}
