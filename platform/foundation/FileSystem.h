// The few file-system steps the bundle, the container and the defaults share. readFile is the one
// whole-file reader. makeDirectories makes folders 0700. FileLock is the flock on a directory's
// .lock file that the user defaults and the pasteboards take. moveAside puts a damaged file at
// .bad, then .bad.2, .bad.3, never over an earlier copy.
#pragma once

#include "platform/foundation/Error.h"
#include "platform/sys/WholeFile.h"

#include <optional>
#include <string>

namespace plat::foundation {

// `path` made absolute against the working directory and lexically normal, without a trailing
// slash ("/" stays "/").
std::string absolutePath(const std::string& path);
// Makes `path` and its missing parents, each the user's alone (kPrivateDirectoryMode, however permissive
// the umask; folders already there are left as they are); false with an error naming the path that
// failed.
bool makeDirectories(const std::string& path, Error* error = nullptr);
bool isDirectory(const std::string& path);
// True when something (a file, a directory, anything) is at `path`, links followed.
bool pathExists(const std::string& path);

// An flock on the file at `path` (made the user's alone, with its directory, when missing), held
// for the object's life: the read-modify-writes of every process taking it on that file go one
// after the other. With `wait` false it is taken only when free at once. A wait on another
// process says so once it has lasted a second, and a quit ends it from then on (QuitRequest.h);
// takers meeting that lock again before anyone took it go on with that wait: not said again, and
// a quit ends theirs at once.
// Not held when the file cannot be opened: a symbolic link is not followed (a link planted at a
// lock's name must neither truncate nor create what it points to), and what is not a regular
// file is refused.
class FileLock {
public:
    explicit FileLock(const std::string& path, bool wait = true);
    ~FileLock();
    FileLock(FileLock&& other) noexcept
        : m_fd(other.m_fd), m_takenElsewhere(other.m_takenElsewhere), m_problem(std::move(other.m_problem)) {
        other.m_fd = -1;
    }
    FileLock& operator=(FileLock&&) = delete;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return m_fd >= 0; }
    // Not held because another process holds it (and it was not waited for, or a quit ended the
    // wait).
    bool takenElsewhere() const { return m_takenElsewhere; }
    // Why it is not held, naming the file; empty while held.
    const std::string& problem() const { return m_problem; }
    // The lock file's descriptor (-1 when not held), for a holder that leaves a note in it.
    int fd() const { return m_fd; }

private:
    bool waitForLock(const std::string& path);

    int m_fd = -1;
    bool m_takenElsewhere = false;
    std::string m_problem;
};

// Renames a damaged file to `path` + `suffix` (.bad unless said), or when that is taken to `path` +
// `suffix` + .2, .3 and so on, never over an earlier one: the name it now has, or nullopt (errno
// set) when it could not move.
std::optional<std::string> moveAside(const std::string& path, const std::string& suffix = ".bad");

// Everything `fd` gives until its end (interrupted reads retried); false on a read error, with
// what came before it in `out`.
bool readAll(int fd, std::string& out);
// The file's bytes. Errors name the file: kFileReadNoSuchFileError when it is missing,
// kFileReadUnknownError when it cannot be read (a directory, no permission).
std::optional<std::string> readFile(const std::string& path, Error* error = nullptr);
// The same within `cap` (plat::sys::readWholeFile): a FIFO, a device or a socket is refused
// without waiting on it, kFileReadUnknownError; a file over the cap kFileReadTooLargeError. The
// form above reads within plat::sys::kDataFileCap.
std::optional<std::string> readFile(const std::string& path, const plat::sys::FileCap& cap, Error* error = nullptr);

}  // namespace plat::foundation
