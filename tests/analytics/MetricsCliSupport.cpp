#include "tests/analytics/MetricsCliSupport.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "tests/support/TestSupport.h"

namespace dktest {

std::vector<std::string> metricsCli(const std::string& home, const std::vector<std::string>& extra,
                                    const std::string& commands) {
    std::vector<std::string> argv = {DK_BINARY_DIR "/apps/dk-analytics-cli/dk-analytics-cli",
                                     "--home", home, "--start-time", "1700000000.25", "--seed", "7",
                                     "--device-facts", DK_TEST_DATA_DIR "/device-facts.plist",
                                     "--endpoint", "trackwell.collector.1=http://127.0.0.1:9",
                                     "--endpoint", "trackwell.collector.2=http://127.0.0.1:9"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!commands.empty()) {
        writeFile(home + ".commands", commands);
        argv.insert(argv.end(), {"--commands", home + ".commands"});
    }
    return argv;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
    }
    return out;
}

std::vector<ProcessResult> runTogether(const std::string& dir, const std::vector<TogetherRun>& runs) {
    std::vector<ProcessResult> results(runs.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const std::string file = dir + "/run" + std::to_string(i) + ".commands";
        writeFile(file, runs[i].commands);
        std::vector<std::string> argv = runs[i].argv;
        argv.insert(argv.end(), {"--commands", file});
        threads.emplace_back([&results, i, argv] { results[i] = runProcess(argv); });
    }
    for (std::thread& t : threads) t.join();
    return results;
}

std::string infoPlist(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>com.test.game</string>" +
           entries + "</dict></plist>\n";
}

std::string factsPlist(const std::vector<std::pair<std::string, std::string>>& strings) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>";
    for (const auto& [key, value] : strings) text += "<key>" + key + "</key><string>" + value + "</string>";
    return text + "</dict></plist>\n";
}

std::string killedRun(const std::vector<std::string>& argv, const std::string& commands, double delay) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return "";
    pid_t child = fork();
    if (child == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (write(in[1], commands.data(), commands.size()) != static_cast<ssize_t>(commands.size())) {}
    std::string answers;
    char c;
    while (answers.find('\n') == std::string::npos && read(out[0], &c, 1) == 1) answers += c;
    usleep(static_cast<useconds_t>(delay * 1e6));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(in[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    return answers;
}

}  // namespace dktest
