// tests/servers/recording_server.py as a test fixture: started on construction, stopped (SIGTERM,
// then waited for) on destruction.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace dktest {

// tests/servers/hostile_server.py, the peer of RecordingServer whose answers are attacks.
const char* hostileServerProgram();

// This process's peak resident memory so far (VmHWM of /proc/self/status), in kilobytes; -1 when
// unreadable. A process measuring itself before and after an attack bounds what the attack cost.
long peakResidentKb();
// The last "peak-memory <kB>" figure a client tool printed over its first: what the commands
// between cost. Without two figures, more than any bound.
long peakMemoryGrowthKb(const std::string& toolOutput);
// The hostile server's answer script giving `answer` (a JSON object) to every request.
std::string everyAnswer(const std::string& answer);
// The memory an attack may cost a client beyond its figure before it.
inline constexpr long kAttackMemoryBoundKb = 64 * 1024;

class RecordingServer {
public:
    // `outDir` receives the server's records; `scriptJson`, when not empty, is its answer script.
    // `program` replaces recording_server.py by a peer built on it (same command line).
    explicit RecordingServer(std::string outDir, const std::string& scriptJson = "", double maxSeconds = 120,
                             const std::string& program = "");
    ~RecordingServer() { stop(); }
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    // False when the server did not start (python3 missing, no port printed).
    bool running() const { return m_port > 0; }
    int port() const { return m_port; }
    // "http://127.0.0.1:<port>".
    std::string url() const;
    // Stops the server and waits for it; its records are complete afterwards. Idempotent.
    void stop();
    // The lines of requests.jsonl, one JSON object per request, as far as written.
    std::vector<std::string> requestLines() const;
    // The bytes received on connection k (from 1).
    std::string connectionBytes(int k) const;

private:
    std::string m_out;
    pid_t m_pid = -1;
    int m_port = 0;
};

// The hostile server giving `answer` to every request.
class HostileServer : public RecordingServer {
public:
    HostileServer(std::string outDir, const std::string& answer)
        : RecordingServer(std::move(outDir), everyAnswer(answer), 120, hostileServerProgram()) {}
};

}  // namespace dktest
