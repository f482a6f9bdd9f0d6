#include "tests/support/RecordingServer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <limits>
#include <cstdio>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace dktest {

RecordingServer::RecordingServer(std::string outDir, const std::string& scriptJson, double maxSeconds,
                                 const std::string& program)
    : m_out(std::move(outDir)) {
    std::vector<std::string> args = {"python3", program.empty() ? std::string(DK_RECORDING_SERVER) : program, "--out", m_out, "--max-seconds",
                                     std::to_string(maxSeconds)};
    if (!scriptJson.empty()) {
        writeFile(m_out + ".script.json", scriptJson);
        args.push_back("--script");
        args.push_back(m_out + ".script.json");
    }
    int out[2];
    if (pipe(out) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (m_pid < 0) {
        close(out[0]);
        return;
    }
    // The first line is the port; nothing else is printed.
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    if (line.rfind("PORT ", 0) == 0) m_port = std::atoi(line.c_str() + 5);
}

const char* hostileServerProgram() {
    return DK_HOSTILE_SERVER;
}

long peakResidentKb() {
    std::istringstream in(readFile("/proc/self/status"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

long peakMemoryGrowthKb(const std::string& toolOutput) {
    std::vector<long> figures;
    std::istringstream in(toolOutput);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("peak-memory ", 0) == 0) figures.push_back(std::atol(line.c_str() + 12));
    return figures.size() < 2 ? std::numeric_limits<long>::max() : figures.back() - figures.front();
}

std::string everyAnswer(const std::string& answer) {
    return R"({"default": )" + answer + "}";
}

std::string RecordingServer::url() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void RecordingServer::stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
}

std::vector<std::string> RecordingServer::requestLines() const {
    std::vector<std::string> lines;
    if (!exists(m_out + "/requests.jsonl")) return lines;
    std::istringstream in(readFile(m_out + "/requests.jsonl"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string RecordingServer::connectionBytes(int k) const {
    std::string path = m_out + "/conn-" + std::to_string(k) + ".bin";
    return exists(path) ? readFile(path) : std::string();
}

}  // namespace dktest
