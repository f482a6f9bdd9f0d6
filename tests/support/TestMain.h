// What every test program sets of its environment before its tests run, so that none depends on
// the caller's: OpenAL Soft's silent device and, under the sanitizers, Mesa without its shader disk
// cache, llvmpipe drawing on the calling thread (for the programs the tests start too), and
// LeakSanitizer's check run at the end of main once no thread is on its way out (TestMain.cpp).
#pragma once

namespace dktest {

// Makes this program's OpenAL Soft driver list `drivers` instead of the silent device every other
// test program gets. Call it during static initialisation (OpenAL reads the list at its first call).
bool chooseSoundDrivers(const char* drivers);

// Registers `role` as something a test program can be started to do instead of running its tests:
// with DK_TEST_ROLE=name in its environment, main runs the role alone and exits with what it
// returns. For tests that need a fresh process of their own (a value read once per process).
// Call it during static initialisation (DK_TEST_ROLE below does).
bool registerRole(const char* name, int (*role)());

}  // namespace dktest

// Defines a role named `name` (an identifier) for the program to play in a child process.
#define DK_TEST_ROLE(name)                                                                  \
    static int dkTestRole_##name();                                                        \
    [[maybe_unused]] static const bool dkTestRoleRegistered_##name =                        \
        ::dktest::registerRole(#name, dkTestRole_##name);                                  \
    static int dkTestRole_##name()

namespace dktest {

}  // namespace dktest
