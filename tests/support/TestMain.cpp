// The main of every test program: the environment its tests need is set here, whatever the caller's.
#include "tests/support/TestMain.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace dktest {

namespace {
const char* g_soundDrivers = nullptr;  // constant-initialised: safe to set from any static initialiser
}

bool chooseSoundDrivers(const char* drivers) {
    g_soundDrivers = drivers;
    return true;
}

}  // namespace dktest

int main(int argc, char** argv) {
    // OpenAL Soft's silent device: it plays in real time with no sound server, and no line of the
    // library's about a missing one reaches the standard error that tests compare.
    setenv("ALSOFT_DRIVERS", dktest::g_soundDrivers ? dktest::g_soundDrivers : "null", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
