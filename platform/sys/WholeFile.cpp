#include "platform/sys/WholeFile.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plat::sys {

namespace {

bool refuse(ReadProblem* problem, ReadFailure failure, std::string message) {
    if (problem) *problem = ReadProblem{failure, std::move(message)};
    return false;
}

bool refuseErrno(ReadProblem* problem, const std::string& name, int error) {
    return refuse(problem, error == ENOENT ? ReadFailure::Missing : ReadFailure::Unreadable,
                  name + ": " + std::strerror(error));
}

std::string capText(size_t bytes) {
    return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB" : std::to_string(bytes) + " bytes";
}

bool refuseSize(ReadProblem* problem, const std::string& name, const FileCap& cap) {
    return refuse(problem, ReadFailure::TooLarge,
                  name + ": over " + capText(cap.bytes) + ", the most " + cap.kind + " may hold");
}

// A directory is what open itself refuses to read (EISDIR), kept in the words callers know.
bool refuseType(ReadProblem* problem, const std::string& name, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return refuseErrno(problem, name, EISDIR);
    return refuse(problem, ReadFailure::NotAFile, name + ": not a file (" + fileTypeName(st.st_mode) + ")");
}

// Up to one byte past the cap, so a file that grew past it is told apart from one at it.
bool readBounded(int fd, const std::string& name, const FileCap& cap, std::string& out, ReadProblem* problem,
                 int stopFd = -1) {
    char buffer[65536];
    for (;;) {
        if (stopFd >= 0) {
            pollfd waits[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
            if (::poll(waits, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return refuseErrno(problem, name, errno);
            }
            if (waits[1].revents & POLLIN)
                return refuse(problem, ReadFailure::Stopped, name + ": stopped before its end");
        }
        // One byte past what is left, without overflowing for the largest of caps.
        const size_t left = cap.bytes - out.size();
        const ssize_t n = ::read(fd, buffer, left < sizeof buffer ? left + 1 : sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n));
            if (out.size() > cap.bytes) return refuseSize(problem, name, cap);
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            return refuseErrno(problem, name, errno);
        }
    }
}

}  // namespace

const char* fileTypeName(unsigned mode) {
    switch (mode & S_IFMT) {
    case S_IFREG: return "a file";
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFSOCK: return "a socket";
    case S_IFLNK: return "a symbolic link";
    default: return "not a kind of file this reads";
    }
}

std::optional<std::string> readWholeFile(const std::string& path, const FileCap& cap, ReadProblem* problem) {
    // Without blocking: a FIFO's open would wait for a writer for ever. The flag means nothing to
    // the regular file that is all this goes on to read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        refuseErrno(problem, path, errno);
        return std::nullopt;
    }
    struct stat st;
    std::string bytes;
    bool read = false;
    if (::fstat(fd, &st) != 0)
        refuseErrno(problem, path, errno);
    else if (!S_ISREG(st.st_mode))
        refuseType(problem, path, st);
    else if (static_cast<unsigned long long>(st.st_size) > cap.bytes)
        refuseSize(problem, path, cap);
    else {
        bytes.reserve(static_cast<size_t>(st.st_size));
        read = readBounded(fd, path, cap, bytes, problem);
    }
    ::close(fd);
    if (!read) return std::nullopt;
    return bytes;
}

std::optional<std::string> readWholeStream(int fd, const std::string& name, const FileCap& cap, ReadProblem* problem,
                                           int stopFd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        refuseErrno(problem, name, errno);
        return std::nullopt;
    }
    if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > cap.bytes) {
        refuseSize(problem, name, cap);
        return std::nullopt;
    }
    std::string bytes;
    if (!readBounded(fd, name, cap, bytes, problem, stopFd)) return std::nullopt;
    return bytes;
}

std::FILE* openRegularFile(const std::string& path, ReadProblem* problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        refuseErrno(problem, path, errno);
        return nullptr;
    }
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 ? S_ISREG(st.st_mode) || refuseType(problem, path, st)
                                               : refuseErrno(problem, path, errno);
    std::FILE* file = regular ? ::fdopen(fd, "rb") : nullptr;
    if (regular && !file) refuseErrno(problem, path, errno);
    if (!file) ::close(fd);
    return file;
}

bool isReadableFile(const std::string& path, const FileCap& cap, ReadProblem* problem) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || refuseErrno(problem, path, errno);
    if (!S_ISREG(st.st_mode)) return refuseType(problem, path, st);
    if (static_cast<unsigned long long>(st.st_size) > cap.bytes) return refuseSize(problem, path, cap);
    return true;
}

}  // namespace plat::sys
