// "socket.core" as the engine opens it: LuaSocket's own functions, with sleep made safe for NaN.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/tests/EngineTestSupport.h"

namespace dktest {
namespace {

// Runs `chunk` in a fresh engine state in a child process and returns its results, or a note when
// the child had not finished by the deadline (then killed) or died: a sleep that never returns
// fails the test instead of hanging the suite.
std::string runInChild(const std::string& chunk, std::chrono::seconds deadline = std::chrono::seconds(30)) {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        DK_State* state = DK_NewState(1);
        DK_Init(state, DK_TEST_DATA_DIR "/recorder.lua", nullptr);
        std::string result = runLua(state->L, chunk);
        if (write(fds[1], result.data(), result.size()) < 0) _exit(2);
        _exit(0);  // the parent's test framework must not run its exit handlers here
    }
    close(fds[1]);
    int status = 0;
    auto until = std::chrono::steady_clock::now() + deadline;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            close(fds[0]);
            return "still running at the deadline";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    close(fds[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + out;
    return out;
}

TEST(SocketCore, SleepTakesNaNAsZeroAndPassesEverythingElseOn) {
    // NaN, also as a string the number conversion accepts; then what LuaSocket itself handles.
    EXPECT_EQ(runInChild("local sleep = socket.core.sleep "
                         "sleep(0/0) sleep('nan') sleep(-1) sleep(0.001) "
                         "local ok, message = pcall(sleep, 'soon') "
                         "return ok, message:find('number expected') ~= nil, "
                         "require('socket.core').sleep == sleep"),
              "false,true,true");
}

}  // namespace
}  // namespace dktest
