#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace dktest {

TempDir::TempDir() {
    char pattern[] = "/tmp/dk-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

ScopedUmask::ScopedUmask(unsigned mask) : m_old(::umask(static_cast<mode_t>(mask))) {}

ScopedUmask::~ScopedUmask() { ::umask(static_cast<mode_t>(m_old)); }

std::vector<std::string> unexpectedModes(const std::string& root, unsigned fileMode, unsigned directoryMode) {
    std::vector<std::string> out;
    auto check = [&](const std::filesystem::path& path) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return;
        const unsigned mode = st.st_mode & 07777;
        const bool expected =
            S_ISDIR(st.st_mode) ? mode == directoryMode : !S_ISREG(st.st_mode) || mode == fileMode;
        if (expected) return;
        char octal[16];
        std::snprintf(octal, sizeof octal, " %04o", mode);
        out.push_back(std::filesystem::relative(path, root).string() + octal);
    };
    check(root);
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        check(it->path());
    return out;
}

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

bool waitUntil(const std::function<bool()>& ready, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool updatingExpected() {
    const char* update = std::getenv("DK_UPDATE_EXPECTED");
    return update && std::string_view(update) == "1";
}

namespace {

// In a forked child: the environment entries added, then `argv` in place of the child.
[[noreturn]] void execWith(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& cwd) {
    bool timedOut = false;
    return runProcessWithin(argv, env, cwd, "/dev/null", O_RDONLY, std::numeric_limits<double>::infinity(),
                            &timedOut);
}

namespace {

ProcessResult runProcessWith(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                             const std::string& cwd, const std::string& input, int inputFlags,
                             const std::function<bool()>& ready, const std::function<void(int pid)>& act,
                             double seconds, bool* timedOut) {
    const TempDir capture;  // standard output and standard error land in files here
    const std::string out = capture.file("out"), err = capture.file("err");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        dup2(open(input.c_str(), inputFlags), 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        execWith(argv, env);
    }
    if (act) {
        // A program that ended before it was ready is left to be reaped below.
        auto ended = [pid] {
            siginfo_t info{};
            return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid != 0;
        };
        if (!ready || (waitUntil([&] { return ready() || ended(); }, seconds) && !ended())) act(pid);
    }
    bool inTime = true;
    if (std::isfinite(seconds)) {
        // The child's end is an event a pidfd's poll waits on.
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        pollfd ended{pidfd, POLLIN, 0};
        int ready;
        while ((ready = poll(&ended, 1, static_cast<int>(seconds * 1000))) < 0 && errno == EINTR) {
        }
        inTime = pidfd >= 0 && ready == 1;
        if (pidfd >= 0) close(pidfd);
        if (!inTime) kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *timedOut = !inTime;
    if (!inTime) return {-1, readFile(out), readFile(err)};
    if (act && WIFSIGNALED(status)) return {128 + WTERMSIG(status), readFile(out), readFile(err)};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

}  // namespace

ProcessResult runProcessWithin(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                               const std::string& cwd, const std::string& input, int inputFlags,
                               double seconds, bool* timedOut) {
    return runProcessWith(argv, env, cwd, input, inputFlags, nullptr, nullptr, seconds, timedOut);
}

ProcessResult runProcessActing(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                               const std::string& cwd, const std::function<bool()>& ready,
                               const std::function<void(int pid)>& act, double seconds, bool* timedOut) {
    return runProcessWith(argv, env, cwd, "/dev/null", O_RDONLY, ready, act, seconds, timedOut);
}

Conversation::Conversation(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string err = m_capture.file("err");
    m_pid = fork();
    if (m_pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execWith(argv, env);
    }
    close(in[0]);
    close(out[1]);
    m_in = in[1];
    m_outFd = out[0];
}

Conversation::~Conversation() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_in >= 0) close(m_in);
    if (m_outFd >= 0) close(m_outFd);
}

void Conversation::send(const std::string& text) {
    // A program that ended early fails the test, not the test program: SIGPIPE is held and dropped.
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    for (std::size_t at = 0; m_in >= 0 && at < text.size();) {
        const ssize_t n = write(m_in, text.data() + at, text.size() - at);
        if (n > 0) at += static_cast<std::size_t>(n);
        else if (errno != EINTR) break;
    }
    const timespec now{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

bool Conversation::readSome(double seconds) {
    pollfd fd{m_outFd, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(seconds * 1000)) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(m_outFd, buffer, sizeof buffer);
    if (n <= 0) return false;
    m_out.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool Conversation::waitFor(const std::string& text, std::size_t from, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (m_out.find(text, std::min(from, m_out.size())) == std::string::npos) {
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0 || !readSome(left)) return false;
    }
    return true;
}

ProcessResult Conversation::finish() {
    close(m_in);
    m_in = -1;
    while (readSome(600)) {
    }
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, m_out, readFile(m_capture.file("err"))};
}

std::string runLua(lua_State* L, const std::string& chunk) {
    const int top = lua_gettop(L);
    std::string out = luaL_loadstring(L, chunk.c_str()) || lua_pcall(L, 0, LUA_MULTRET, 0) ? "error: " : "";
    for (int i = top + 1; i <= lua_gettop(L); ++i) {
        lua_getglobal(L, "tostring");
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        const char* text = lua_tostring(L, -1);
        if (i > top + 1) out += ',';
        out += text ? text : "?";
        lua_pop(L, 1);
    }
    lua_settop(L, top);
    return out;
}

LuaState::LuaState(lua_CFunction open, const char* name) : m_L(luaL_newstate()) {
    luaL_openlibs(m_L);
    if (!open) return;
    lua_pushcfunction(m_L, open);
    lua_pushstring(m_L, name);
    lua_call(m_L, 1, 0);
}

}  // namespace dktest

namespace dktest {

void openLib(lua_State* L, lua_CFunction open, const char* name) {
    lua_pushcfunction(L, open);
    lua_pushstring(L, name);
    lua_call(L, 1, 0);
}

void setGlobal(lua_State* L, const char* name, const std::string& value) {
    lua_pushlstring(L, value.data(), value.size());
    lua_setglobal(L, name);
}

bool killedMidWrite(const std::function<void()>& write, long limit) {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)}, core{0, 0};
        setrlimit(RLIMIT_CORE, &core);
        setrlimit(RLIMIT_FSIZE, &size);
        std::signal(SIGXFSZ, SIG_DFL);
        write();
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ;
}

std::vector<int> sideBySide(int count, const std::function<int(int id, const std::function<void()>& go)>& body) {
    int start[2];
    if (pipe(start) != 0) return std::vector<int>(count, -1);
    std::fflush(nullptr);
    std::vector<pid_t> children;
    for (int id = 0; id < count; ++id) {
        const pid_t child = fork();
        if (child == 0) {
            close(start[1]);
            _exit(body(id, [&] {
                char c;
                while (read(start[0], &c, 1) < 0 && errno == EINTR) {
                }
            }));
        }
        children.push_back(child);
    }
    close(start[0]);
    close(start[1]);  // every child's go() returns
    std::vector<int> statuses;
    for (pid_t child : children) {
        int status = 0;
        while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        statuses.push_back(child > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return statuses;
}

}  // namespace dktest

namespace dktest {

namespace {

std::string findProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

}  // namespace

XvfbServer::XvfbServer(int width, int height) {
    const std::string program = findProgram("Xvfb");
    if (program.empty()) {
        m_why = "Xvfb is not installed (scripts/install-deps installs it)";
        return;
    }
    m_installed = true;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_why = "no pipe";
        return;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const pid_t pid = fork();
    if (pid == 0) {
        // A test that took SIGTERM as loop input (QuitSignals) left it blocked, and a blocked
        // mask outlives exec: Xvfb would never hear the SIGTERM that ends it.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // Xvfb picks a free display and writes its number to the descriptor.
        const int out = dup(pipeFds[1]);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        dup2(quiet, 2);
        const std::string fd = std::to_string(out);
        execl(program.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
              "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string number;
    char c = 0;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n') number += c;
    close(pipeFds[0]);
    if (pid < 0 || number.empty()) {
        m_why = "Xvfb did not start";
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        return;
    }
    m_pid = pid;
    m_display = ":" + number;
    if (const char* previous = std::getenv("DISPLAY")) {
        m_hadPrevious = true;
        m_previous = previous;
    }
    setenv("DISPLAY", m_display.c_str(), 1);
}

XvfbServer::~XvfbServer() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    if (m_hadPrevious)
        setenv("DISPLAY", m_previous.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

std::vector<std::string> helpCommandWords(const std::string& help, const std::string& heading) {
    std::vector<std::string> words;
    std::istringstream lines(help);
    std::string line;
    bool inside = false;
    while (std::getline(lines, line)) {
        if (line.starts_with("Exit status")) break;
        if (!inside) {
            inside = line.starts_with(heading);
            continue;
        }
        if (!line.starts_with("  ") || line.size() < 3 || line[2] == ' ') continue;
        for (std::size_t at = 2; at < line.size();) {
            const std::size_t end = line.find_first_of(" \n", at);
            words.push_back(line.substr(at, end - at));
            const std::size_t next = line.find(" | ", at);
            if (next == std::string::npos) break;
            at = next + 3;
        }
    }
    return words;
}

std::vector<std::string> commandsRefusedAsUnknown(std::vector<std::string> argv, const std::vector<std::string>& words,
                                                  const std::string& dir) {
    std::string commands;
    for (const std::string& word : words) commands += word + "\n";
    const std::string file = dir + "/help-words.commands";
    writeFile(file, commands);
    argv.insert(argv.end(), {"--commands", file});
    const std::string out = runProcess(argv, {}, dir).out;
    std::vector<std::string> refused;
    for (const std::string& word : words)
        if (out.find("error unknown command: " + word + "\n") != std::string::npos) refused.push_back(word);
    return refused;
}

std::string withoutKioskLog(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string_view line(text.data() + start, end - start);
        bool client = line.starts_with("[Kiosk-") || line.starts_with("Resolved ") ||
                      line.starts_with("Could not resolve ");
        // A message that ends in its own line break leaves an empty line after it.
        if (client && line.find('\n') == line.size() - 1 && end < text.size() && text[end] == '\n' &&
            line.find(" error\n") != std::string_view::npos)
            ++end;
        if (!client) out += line;
        start = end;
    }
    return out;
}

}  // namespace dktest
