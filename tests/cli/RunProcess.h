#pragma once

#include <string>
#include <vector>

namespace dktest {

struct ProcessResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs `argv` with extra environment entries ("NAME=value") in `cwd` (empty: this directory),
// capturing standard output and standard error separately.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                         const std::string& cwd = "");

}  // namespace dktest
