#include "platform/foundation/FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/sys/FileModes.h"

namespace plat::foundation {

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec) p = path;
    std::string out = p.lexically_normal().string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool makeDirectories(const std::string& path, Error* error) {
    if (isDirectory(path)) return true;
    // Parents first, each made or found; the message names `path` and the step that failed.
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        const std::string where = prefix == path ? "" : prefix + ": ";
        if (::mkdir(prefix.c_str(), plat::sys::kPrivateDirectoryMode) != 0 && errno != EEXIST)
            return fail(error, kFileWriteUnknownError, "cannot make directory " + path + ": " + where + std::strerror(errno));
        if (!isDirectory(prefix))
            return fail(error, kFileWriteUnknownError, "cannot make directory " + path + ": " + where + "not a directory");
        if (slash == std::string::npos) return true;
    }
}

FileLock::FileLock(const std::string& path, bool wait) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) makeDirectories(path.substr(0, slash));
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, plat::sys::kPrivateFileMode);
    if (m_fd < 0) return;
    int taken;
    while ((taken = flock(m_fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (taken != 0) {
        const int saved = errno;
        ::close(m_fd);
        m_fd = -1;
        errno = saved;
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0) ::close(m_fd);
}

std::optional<std::string> moveAside(const std::string& path) {
    for (int n = 1; n < 10000; ++n) {
        const std::string aside = path + ".bad" + (n == 1 ? "" : "." + std::to_string(n));
        // Not over a name another process took meanwhile; file systems without the flag get a
        // look first.
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
        if (errno == EINVAL || errno == ENOSYS) {
            if (pathExists(aside)) continue;
            if (std::rename(path.c_str(), aside.c_str()) == 0) return aside;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool readAll(int fd, std::string& out) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            return n == 0;
        }
    }
}

std::optional<std::string> readFile(const std::string& path, Error* error) {
    return readFile(path, plat::sys::kDataFileCap, error);
}

std::optional<std::string> readFile(const std::string& path, const plat::sys::FileCap& cap, Error* error) {
    plat::sys::ReadProblem problem;
    std::optional<std::string> bytes = plat::sys::readWholeFile(path, cap, &problem);
    if (!bytes)
        fail(error,
             problem.failure == plat::sys::ReadFailure::Missing    ? kFileReadNoSuchFileError
             : problem.failure == plat::sys::ReadFailure::TooLarge ? kFileReadTooLargeError
                                                                   : kFileReadUnknownError,
             problem.message);
    return bytes;
}

}  // namespace plat::foundation
