// What the application's own files and folders are made with: only the user reads them, however
// permissive the umask.
#pragma once

#include <sys/types.h>

#include <string>

namespace plat::sys {

constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateDirectoryMode = 0700;

// An empty file of kPrivateFileMode at `path` when nothing is there, so that a library which
// creates files with its own mode (SQLite) opens ours instead. Something already there is left
// as it is. False when nothing could be made.
bool createPrivateFile(const std::string& path);

// Takes group and other permissions out of the process's umask, for what libraries make with
// the umask's modes in the home (the page engine's processes make their caches and stores so).
// At the start of main, before any thread: the umask is the process's.
void keepNewFilesPrivate();

}  // namespace plat::sys
