// Helpers shared by the test programs: scratch directories, whole files, child processes, Lua.
#pragma once

#include <lua.hpp>

#include <functional>
#include <string>
#include <vector>

namespace dktest {

// A fresh directory under /tmp, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
bool exists(const std::string& path);
// Whether `ready` came true within `seconds` of real time, asked each millisecond: for what another
// thread or process does where there is nothing to wait on directly.
bool waitUntil(const std::function<bool()>& ready, double seconds = 10);
// Whether expected files (texts and pictures under a module's tests/data/) are written from what the
// tests produce instead of compared: DK_UPDATE_EXPECTED=1 in the environment. Review the change.
bool updatingExpected();

// The process's umask while it lives, the one before restored after. A test of the modes files are
// made with sets a permissive one (0), so that only what the code asks for shows.
class ScopedUmask {
public:
    explicit ScopedUmask(unsigned mask);
    ~ScopedUmask();
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    unsigned m_old;
};

// Each entry under `root` (itself included) whose permission bits differ from `fileMode` (regular
// files) or `directoryMode` (folders), as "PATH MODE" with the path relative to `root` and the mode
// in octal; empty when every entry has its mode. Links are not followed.
std::vector<std::string> unexpectedModes(const std::string& root, unsigned fileMode, unsigned directoryMode);

struct ProcessResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` with extra environment entries ("NAME=value") in `cwd` (empty: this directory),
// capturing standard output and standard error separately.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                         const std::string& cwd = "");

// runProcess with standard input opened from `input` with `inputFlags` (O_RDWR makes a FIFO its
// own writer, so reading it waits for ever), killed when it has not ended within `seconds` of real
// time (infinite: waited for): then `*timedOut` is set and the status is -1.
ProcessResult runProcessWithin(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                               const std::string& cwd, const std::string& input, int inputFlags, double seconds,
                               bool* timedOut);

// runProcessWithin (standard input /dev/null) for a program acted on while it runs: once `ready()`
// holds (asked each millisecond for at most `seconds`; not at all when null), `act(pid)` (a signal,
// a server it needs taken away); then the program's end is waited for, `seconds` at most. A
// program ended by a signal has the status a shell gives it, 128 + the signal.
ProcessResult runProcessActing(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                               const std::string& cwd, const std::function<bool()>& ready,
                               const std::function<void(int pid)>& act, double seconds, bool* timedOut);

// The command words a tool's --help lists: the first word of each " | "-separated form on the lines
// indented by two spaces (not more: those continue a line) between the line starting with
// `heading` and the one starting with "Exit status".
std::vector<std::string> helpCommandWords(const std::string& help, const std::string& heading);
// The words among `words` that the command-file tool `argv` answers "error unknown command: WORD"
// when each is given as a bare command line (all through one command file in `dir`).
std::vector<std::string> commandsRefusedAsUnknown(std::vector<std::string> argv, const std::vector<std::string>& words,
                                                  const std::string& dir);

// `text` without the content-ads client's own log lines ("[Kiosk-...", and its DNS diagnostic's
// "Resolved ..." and "Could not resolve ..."), whose ids and order vary from run to run.
std::string withoutKioskLog(const std::string& text);

// Runs a Lua chunk; returns its results through tostring joined by ",", or "error: <message>".
// The stack is left as found.
std::string runLua(lua_State* L, const std::string& chunk);
inline bool isLuaError(const std::string& result) {
    return result.rfind("error: ", 0) == 0;
}

// A fresh Lua state with the standard libraries and, when given, one module opened (called with
// `name`); closed when the object goes. Converts to lua_State*.
class LuaState {
public:
    explicit LuaState(lua_CFunction open = nullptr, const char* name = nullptr);
    ~LuaState() { lua_close(m_L); }
    LuaState(const LuaState&) = delete;
    LuaState& operator=(const LuaState&) = delete;
    operator lua_State*() const { return m_L; }
    std::string run(const std::string& chunk) const { return runLua(m_L, chunk); }

private:
    lua_State* m_L;
};

}  // namespace dktest

namespace dktest {

// Opens one more module in `L` (called with `name`), as LuaState does with its first.
void openLib(lua_State* L, lua_CFunction open, const char* name);
// Sets a global string, for texts and paths that are awkward to quote in a chunk.
void setGlobal(lua_State* L, const char* name, const std::string& value);

// Runs `write` in a child process that its file size limit kills (SIGXFSZ) once it has written
// `limit` bytes to one file; true when the child was killed so, mid-write.
bool killedMidWrite(const std::function<void()>& write, long limit = 4096);

// Runs `body(id, go)` in `count` child processes (ids 0 to count - 1) side by side: each calls
// `go()` once set up, which returns when every child has been started, so their work overlaps.
// The children's exit statuses (what `body` returns; -1 for one that did not exit normally).
std::vector<int> sideBySide(int count, const std::function<int(int id, const std::function<void()>& go)>& body);

}  // namespace dktest

namespace dktest {

// An X server of the test's own (Xvfb, one screen of `width` x `height` at 24 bits), DISPLAY
// naming it while it lives. `running()` is false when Xvfb is not installed (`why()` says so: the
// test skips) or did not start.
class XvfbServer {
public:
    explicit XvfbServer(int width = 1280, int height = 1024);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    bool running() const { return m_pid > 0; }
    bool installed() const { return m_installed; }
    const std::string& display() const { return m_display; }
    const std::string& why() const { return m_why; }

private:
    int m_pid = -1;
    bool m_installed = false;
    std::string m_display;
    std::string m_why;
    std::string m_previous;
    bool m_hadPrevious = false;
};

}  // namespace dktest

namespace dktest {

// A program driven a line at a time: the test writes its standard input and reads its standard
// output as it comes, so it can wait for what the program says instead of guessing how long that
// takes. Standard error is kept whole.
class Conversation {
public:
    explicit Conversation(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~Conversation();
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;
    void send(const std::string& text);
    // Reads until the output past `from` holds `text`; false when the program ended first or
    // `seconds` of real time went by.
    bool waitFor(const std::string& text, std::size_t from = 0, double seconds = 60);
    const std::string& out() const { return m_out; }
    int pid() const { return m_pid; }
    // Closes standard input and waits for the program's end.
    ProcessResult finish();

private:
    bool readSome(double seconds);
    TempDir m_capture;
    int m_pid = -1, m_in = -1, m_outFd = -1;
    std::string m_out;
};

}  // namespace dktest
