// Replacing a file so that a failure at any point leaves the old file as it was.
#pragma once

#include <string>
#include <string_view>

namespace dk::tables {

// Writes `data` to a new file beside `path`, flushes it to disk and renames it over `path`.
// Returns false (and leaves `path` untouched) when any step fails. A file that already exists
// keeps its permission bits; a new one gets 0666 less the umask, as fopen would give it.
bool writeFileAtomically(const std::string& path, std::string_view data);

}  // namespace dk::tables
