// WebKit's web processes of the test's process, or of a program it runs, found in /proc: their
// processor time (what shows a page still running where nothing of it is on screen), and their end.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace dktest {

struct ProcessStat {
    pid_t pid = 0, parent = 0;
    std::string name;
    double ticks = 0;  // user and system
};

// Of /proc/PID/stat; nothing when the process has gone.
inline std::optional<ProcessStat> processStat(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string all((std::istreambuf_iterator<char>(in)), {});
    const std::size_t open = all.find('('), close = all.rfind(')');
    if (open == std::string::npos || close == std::string::npos) return std::nullopt;
    ProcessStat stat{pid, 0, all.substr(open + 1, close - open - 1), 0};
    std::istringstream rest(all.substr(close + 2));
    std::string skipped;
    double user = 0, system = 0;
    rest >> skipped >> stat.parent;
    for (int field = 5; field <= 13; ++field) rest >> skipped;
    rest >> user >> system;
    stat.ticks = user + system;
    return rest ? std::optional(stat) : std::nullopt;
}

// The web processes of this process (its children), as they stand.
inline std::vector<ProcessStat> webProcesses() {
    std::vector<ProcessStat> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::optional<ProcessStat> stat = processStat(std::stoi(name));
        if (stat && stat->parent == getpid() && stat->name == "WPEWebProcess") found.push_back(*stat);
    }
    return found;
}

// The seconds of processor time (user and system) they have used so far; those gone are not
// counted.
inline double webProcessesCpuSeconds() {
    double ticks = 0;
    for (const ProcessStat& p : webProcesses()) ticks += p.ticks;
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The page engine's processes among the children of `parent` (each of its threads lists its own),
// WebKit's network process with them.
inline std::vector<pid_t> webProcessesOf(pid_t parent) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(parent) + "/task", ec)) {
        std::ifstream children(task.path() / "children");
        for (pid_t child; children >> child;) {
            const std::optional<ProcessStat> stat = processStat(child);
            if (stat && stat->name.starts_with("WPE")) found.push_back(child);
        }
    }
    return found;
}

// A process's state letter ('R', 'S', 'Z', ...); 0 when it is gone.
inline char processState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string all((std::istreambuf_iterator<char>(in)), {});
    const std::size_t name = all.rfind(')');
    return name == std::string::npos || name + 2 >= all.size() ? 0 : all[name + 2];
}

// Gone, a zombie, or killed (SIGKILL pending): nothing of it runs on.
inline bool processEnded(pid_t pid) {
    const char state = processState(pid);
    if (state == 0 || state == 'Z') return true;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("ShdPnd:\t")) return std::stoull(line.substr(8), nullptr, 16) & (1ull << (SIGKILL - 1));
    return false;
}

// Ends them all at once, as a crash would; how many there were.
inline std::size_t killWebProcesses() {
    const std::vector<ProcessStat> found = webProcesses();
    for (const ProcessStat& p : found) kill(p.pid, SIGKILL);
    return found.size();
}

}  // namespace dktest
