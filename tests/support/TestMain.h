// What every test program sets of its environment before its tests run, so that none depends on
// the caller's.
#pragma once

namespace dktest {

// Makes this program's OpenAL Soft driver list `drivers` instead of the silent device every other
// test program gets. Call it during static initialisation (OpenAL reads the list at its first call).
bool chooseSoundDrivers(const char* drivers);

}  // namespace dktest
