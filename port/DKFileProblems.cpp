#include "port/DKFileProblems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/sys/WholeFile.h"

namespace dk::port {

namespace {

std::mutex g_mutex;
std::set<std::string, std::less<>> g_said;
bool g_full = false;

}  // namespace

void reportFileProblem(std::string_view path, std::string_view reason) {
    std::string key;
    key.reserve(path.size() + reason.size() + 1);
    key.append(path).append(1, '\0').append(reason);
    std::lock_guard lock(g_mutex);
    if (g_said.count(key)) return;
    if (g_said.size() >= kMaxFileProblems) {
        if (!g_full) std::fprintf(stderr, "more files could not be used; no more are named\n");
        g_full = true;
        return;
    }
    g_said.insert(std::move(key));
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(path.size()), path.data(), static_cast<int>(reason.size()),
                 reason.data());
}

std::string fileOpenProblem(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "a folder, not a file";
    if (!S_ISREG(st.st_mode)) return std::string("not a file (") + plat::sys::fileTypeName(st.st_mode) + ")";
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return std::strerror(errno);
    ::close(descriptor);
    return {};
}

void forgetFileProblems() {
    std::lock_guard lock(g_mutex);
    g_said.clear();
    g_full = false;
}

}  // namespace dk::port
