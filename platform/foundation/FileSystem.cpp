#include "platform/foundation/FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "platform/foundation/Log.h"
#include "platform/sys/AtomicFile.h"
#include "platform/sys/FileModes.h"
#include "platform/sys/QuitRequest.h"

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

namespace {

// The locks whose wait has been said and not yet ended by taking them: one wait on another
// process's lock is said once, however many takers meet it.
std::mutex g_saidMutex;
std::set<std::string>& saidWaiting() {
    static auto* paths = new std::set<std::string>;
    return *paths;
}

}  // namespace

FileLock::FileLock(const std::string& path, bool wait) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) makeDirectories(path.substr(0, slash));
    // Without O_NONBLOCK a FIFO at the name would hold the open.
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, plat::sys::kPrivateFileMode);
    if (m_fd < 0) {
        const int saved = errno;
        m_problem = path + ": " + (saved == ELOOP ? "a symbolic link, not followed" : std::strerror(saved));
        errno = saved;
        return;
    }
    struct stat st;
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_problem = path + ": not a regular file";
        ::close(m_fd);
        m_fd = -1;
        errno = EINVAL;
        return;
    }
    int taken;
    while ((taken = flock(m_fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (taken == 0) {
        std::lock_guard said(g_saidMutex);
        saidWaiting().erase(path);
        return;
    }
    const int saved = errno;
    if (saved == EWOULDBLOCK) {
        m_takenElsewhere = true;
        if (wait && waitForLock(path)) {
            m_takenElsewhere = false;
            std::lock_guard said(g_saidMutex);
            saidWaiting().erase(path);
            return;
        }
    }
    m_problem = path + ": " + (m_takenElsewhere ? "locked by another process" : std::strerror(saved));
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    errno = m_takenElsewhere ? EWOULDBLOCK : saved;
}

// The kernel's queue hands the lock over the moment it is let go (polling missed the instants
// between one process's writes in a row, and waited for seconds); the flock blocks on a thread
// of its own so that this one can say a long wait and end it for a quit. The descriptor is then
// the thread's: it closes it, letting the lock go, once it gets it.
bool FileLock::waitForLock(const std::string& path) {
    struct Wait {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false, abandoned = false;
        int result = -1;
    };
    const auto shared = std::make_shared<Wait>();
    const int fd = m_fd;
    try {
        std::thread([shared, fd] {
            int taken;
            while ((taken = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
            }
            std::lock_guard lock(shared->mutex);
            shared->finished = true;
            shared->result = taken;
            if (shared->abandoned) ::close(fd);
            shared->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {  // no thread to be had: a wait without end, as before
        int taken;
        while ((taken = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        return taken == 0;
    }
    // A wait already said goes on from where it was: not said again, nor a second waited out
    // before a quit may end it.
    bool said;
    {
        std::lock_guard guard(g_saidMutex);
        said = saidWaiting().count(path) != 0;
    }
    std::unique_lock lock(shared->mutex);
    if (!said) {
        if (shared->done.wait_for(lock, std::chrono::milliseconds(plat::sys::kLongLockWaitMs),
                                  [&] { return shared->finished; }))
            return shared->result == 0;
        {
            std::lock_guard guard(g_saidMutex);
            said = !saidWaiting().insert(path).second;
        }
        if (!said) log("%s is locked by another process; waiting for it", path.c_str());
    }
    while (!shared->done.wait_for(lock, std::chrono::milliseconds(10), [&] { return shared->finished; })) {
        if (plat::sys::quitRequested()) {
            shared->abandoned = true;
            m_fd = -1;
            return false;
        }
    }
    return shared->result == 0;
}

FileLock::~FileLock() {
    if (m_fd >= 0) ::close(m_fd);
}

std::optional<std::string> moveAside(const std::string& path, const std::string& suffix) {
    return plat::sys::moveAside(path, suffix);
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
