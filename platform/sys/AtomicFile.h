// Replacing a file so that a failure, or a kill, at any point leaves the old file whole.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace plat::sys {

// A new file written beside `path` that takes its place only when committed. The temporary is
// named ".dk-<hash of the target's name>-<pid>-<n>.tmp" and locked while written. Opening one
// first removes the temporaries of the same target that a writer which died (a killed save) left
// behind: those whose process is gone and whose lock nobody holds.
// A new target is made kPrivateFileMode (platform/sys/FileModes.h); one that exists keeps its mode.
// A target that exists and is not a regular file (a device, a pipe) is written in place, as there
// is nothing to replace; a symbolic link is followed, so the link stays and its file is replaced.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path);
    // An uncommitted temporary is removed, leaving the target as it was.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where to write; null when the temporary could not be made (the target is a directory, or
    // its directory cannot be written).
    FILE* stream() const { return m_stream; }
    // The file replaced (a link's own file).
    const std::string& path() const { return m_target; }
    // Flushes the data to disk and renames the temporary over the target. False, with the target
    // untouched and the temporary removed, when this or any earlier write failed.
    bool commit();

private:
    void discard();

    std::string m_target;
    std::string m_temp;  // empty when writing in place
    FILE* m_stream = nullptr;
};

// Writes `data` through an AtomicFile. A file that already exists keeps its permission bits; a
// new one is the user's alone (kPrivateFileMode), however permissive the umask.
bool writeFileAtomically(const std::string& path, std::string_view data);

// Renames a damaged file to `path` + `suffix`, or when that is taken to `path` + `suffix` + .2, .3
// and so on, never over an earlier one: the name it now has, or nullopt (errno set) when it could
// not move.
std::optional<std::string> moveAside(const std::string& path, const std::string& suffix);

}  // namespace plat::sys
