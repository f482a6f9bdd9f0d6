#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace dk::fuzz {

namespace {

struct Scratch {
    std::string path;
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dk-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace

const std::string& scratchDir() {
    static Scratch scratch;
    return scratch.path;
}

std::string scratchFile(const uint8_t* data, size_t size, const std::string& ending) {
    std::string path = scratchDir() + "/input" + ending;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

bool startsWith(const uint8_t* data, size_t size, std::string_view prefix) {
    return size >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data);
}

bool contains(const uint8_t* data, size_t size, std::string_view text) {
    return std::search(data, data + size, text.begin(), text.end()) != data + size;
}

}  // namespace dk::fuzz
