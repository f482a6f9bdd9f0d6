// What the tests of dk-analytics-cli share: its command line, a killed child, the texts they make.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/support/TestSupport.h"

namespace dktest {

// dk-analytics-cli over `home` from 1700000000.25 on the virtual clock, seeded, with the facts of
// data/device-facts.plist and both collectors on a refused port, then `extra` (a later option
// wins); `commands`, when given, are written beside the home and read from there.
std::vector<std::string> metricsCli(const std::string& home, const std::vector<std::string>& extra,
                                    const std::string& commands = "");
std::vector<std::string> lines(const std::string& text);
// Starts `argv` with `commands` on its standard input (left open, so it waits for more), kills it
// (SIGKILL) `delay` seconds after its first answer line, and returns every line it answered.
std::string killedRun(const std::vector<std::string>& argv, const std::string& commands, double delay);
// Starts every command line at once, each with its commands (written as `dir`/run<i>.commands),
// and returns their results in order once all have ended.
struct TogetherRun {
    std::vector<std::string> argv;
    std::string commands;
};
std::vector<ProcessResult> runTogether(const std::string& dir, const std::vector<TogetherRun>& runs);
// An Info.plist with an identifier and `entries`; a facts file of string entries.
std::string infoPlist(const std::string& entries);
std::string factsPlist(const std::vector<std::pair<std::string, std::string>>& strings);

}  // namespace dktest
