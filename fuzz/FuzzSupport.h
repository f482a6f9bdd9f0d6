// What the fuzz targets share: scratch files for parsers that read paths, and the switch that
// keeps input classes with faults already being mended out of the runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dk::fuzz {

// A directory of this process's own, removed at exit.
const std::string& scratchDir();
// Writes `data` to a scratch file named "input" + `ending` and returns its path.
std::string scratchFile(const uint8_t* data, size_t size, const std::string& ending);

bool startsWith(const uint8_t* data, size_t size, std::string_view prefix);
bool contains(const uint8_t* data, size_t size, std::string_view text);


}  // namespace dk::fuzz
