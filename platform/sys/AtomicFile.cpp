#include "platform/sys/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/sys/FileModes.h"

namespace plat::sys {

namespace {

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The temporaries of one target share this prefix. A short fixed-shape name, so that a long
// target name cannot push it over the name limit.
std::string temporaryPrefix(const std::string& target) {
    const size_t slash = target.rfind('/');
    uint64_t hash = 14695981039346656037ull;  // FNV-1a of the target's name
    for (size_t i = slash == std::string::npos ? 0 : slash + 1; i < target.size(); ++i) {
        hash ^= static_cast<unsigned char>(target[i]);
        hash *= 1099511628211ull;
    }
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, ".dk-%016llx-", static_cast<unsigned long long>(hash));
    return prefix;
}

bool allDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The writer of a temporary named `prefix` + "<pid>-<n>.tmp"; 0 for any other name.
pid_t writerOf(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) return 0;
    name = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dash = name.find('-');
    if (dash == std::string_view::npos || !allDigits(name.substr(0, dash)) ||
        !allDigits(name.substr(dash + 1)))
        return 0;
    unsigned long pid = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + dash, pid);
    return error == std::errc() && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// A writer that died mid-write leaves its temporary for good; remove those of this target. A
// process that still runs is never touched (a reused pid only keeps a stale file a while longer),
// and neither is a temporary whose lock is held, as by a writer in another pid namespace.
void removeStaleTemporaries(const std::string& dir, const std::string& prefix) {
    DIR* entries = ::opendir(dir.c_str());
    if (!entries) return;
    while (const dirent* entry = ::readdir(entries)) {
        pid_t pid = writerOf(entry->d_name, prefix);
        if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        const std::string path = dir + "/" + entry->d_name;
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(entries);
}

}  // namespace

AtomicFile::AtomicFile(const std::string& path) : m_target(path) {
    if (path.empty()) return;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
        if (resolved) m_target = resolved.get();
    }
    const bool exists = ::stat(m_target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        m_stream = std::fopen(m_target.c_str(), "wb");
        return;
    }

    const std::string dir = directoryOf(m_target);
    const std::string prefix = temporaryPrefix(m_target);
    removeStaleTemporaries(dir, prefix);
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        m_temp = dir + "/" + prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        m_temp.clear();  // the name tried last may be another writer's
        return;
    }
    ::flock(fd, LOCK_EX);  // released when the stream is closed, or by the kernel when we die
    if (exists) ::fchmod(fd, st.st_mode & 07777);
    m_stream = ::fdopen(fd, "wb");
    if (!m_stream) {
        ::close(fd);
        discard();
    }
}

AtomicFile::~AtomicFile() {
    discard();
}

void AtomicFile::discard() {
    if (m_stream) std::fclose(std::exchange(m_stream, nullptr));
    if (!m_temp.empty()) ::unlink(std::exchange(m_temp, std::string()).c_str());
}

bool AtomicFile::commit() {
    if (!m_stream) return false;
    FILE* stream = std::exchange(m_stream, nullptr);
    bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
    if (m_temp.empty()) return (std::fclose(stream) == 0) && ok;
    ok = ok && ::fsync(::fileno(stream)) == 0;
    ok = (std::fclose(stream) == 0) && ok;
    ok = ok && ::rename(m_temp.c_str(), m_target.c_str()) == 0;
    if (!ok) {
        discard();
        return false;
    }
    m_temp.clear();
    // Make the rename itself durable; the new content is complete either way.
    int dirFd = ::open(directoryOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view data) {
    AtomicFile file(path);
    if (!file.stream()) return false;
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file.stream()) != data.size()) return false;
    return file.commit();
}

std::optional<std::string> moveAside(const std::string& path, const std::string& suffix) {
    for (int n = 1; n < 10000; ++n) {
        const std::string aside = path + suffix + (n == 1 ? "" : "." + std::to_string(n));
        // Not over a name another process took meanwhile; file systems without the flag get a
        // look first.
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) return aside;
        if (errno == EINVAL || errno == ENOSYS) {
            struct stat st;
            if (::stat(aside.c_str(), &st) == 0) continue;
            if (std::rename(path.c_str(), aside.c_str()) == 0) return aside;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

}  // namespace plat::sys
