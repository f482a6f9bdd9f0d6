// The main of every test program: the environment its tests need is set here, whatever the caller's.
#include "tests/support/TestMain.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define DK_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DK_LEAK_CHECK 1
#endif
#endif

#if DK_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace dktest {

namespace {

const char* g_soundDrivers = nullptr;  // constant-initialised: safe to set from any static initialiser

struct Role {
    const char* name;
    int (*run)();
};
// Constant-initialised too: roles register from static initialisers in any order.
Role g_roles[16];
int g_roleCount = 0;

int (*roleNamed(const char* name))() {
    for (int i = 0; i < g_roleCount; ++i)
        if (std::strcmp(g_roles[i].name, name) == 0) return g_roles[i].run;
    return nullptr;
}

#if DK_LEAK_CHECK
// Whether a thread of this process is on its way out: the kernel's PF_EXITING in its stat flags.
bool aThreadIsExiting() {
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream in(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        const std::size_t end = stat.rfind(')');
        if (end == std::string::npos) continue;
        std::istringstream fields(stat.substr(end + 1));
        std::string skip;
        unsigned long flags = 0;
        for (int i = 0; i < 6; ++i) fields >> skip;  // state, parent, group, session, terminal, its group
        if (fields >> flags && (flags & 0x4)) return true;
    }
    return false;
}
#endif

}  // namespace

bool chooseSoundDrivers(const char* drivers) {
    g_soundDrivers = drivers;
    return true;
}

bool registerRole(const char* name, int (*role)()) {
    if (g_roleCount == static_cast<int>(sizeof g_roles / sizeof g_roles[0])) std::abort();
    g_roles[g_roleCount++] = {name, role};
    return true;
}

}  // namespace dktest

int main(int argc, char** argv) {
    // OpenAL Soft's silent device: it plays in real time with no sound server, and no line of the
    // library's about a missing one reaches the standard error that tests compare.
    setenv("ALSOFT_DRIVERS", dktest::g_soundDrivers ? dktest::g_soundDrivers : "null", 1);
#if DK_LEAK_CHECK
    // Mesa without its shader disk cache and llvmpipe drawing on the calling thread: no thread of
    // theirs is torn down at exit, in this program or in the programs it starts (whose leak checks
    // run at their exit).
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    setenv("LP_NUM_THREADS", "0", 1);
#endif
    int status = 0;
    if (const char* name = std::getenv("DK_TEST_ROLE")) {
        auto role = dktest::roleNamed(name);
        if (!role) {
            std::fprintf(stderr, "DK_TEST_ROLE: no role \"%s\" in this program\n", name);
            return 2;
        }
        unsetenv("DK_TEST_ROLE");  // not for the programs the role starts
        status = role();
    } else {
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
#if DK_LEAK_CHECK
    // LeakSanitizer's own check at exit runs after every exit handler and library destructor, while
    // the threads they just joined may still be exiting; its tracer dies on such a thread ("Tracer
    // caught signal 11"). Here, before exit, every thread is either running or gone: wait for any
    // still on its way out, then check (which also stands the check at exit down).
    const auto start = std::chrono::steady_clock::now();
    while (dktest::aThreadIsExiting() && std::chrono::steady_clock::now() - start < std::chrono::seconds(30))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    __lsan_do_leak_check();
#endif
    return status;
}
