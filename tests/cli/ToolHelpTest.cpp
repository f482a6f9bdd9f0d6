// Each command-file tool's --help against the commands it knows: every command listed, and every
// command listed one the tool runs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

struct Tool {
    const char* binary;   // under the build tree
    const char* heading;  // the help line the commands follow
    // The command line a command file runs under ("--commands FILE" goes after the program).
    std::vector<std::string> (*commandMode)(const TempDir& dir);
    // Whether a command line named no command, from what the tool wrote.
    bool (*unknown)(const ProcessResult& result, const std::string& name);
    std::set<std::string> commands;
};

std::string binary(const char* path) {
    return std::string(DK_BINARY_DIR "/apps/") + path;
}

bool refusedOnOutput(const ProcessResult& result, const std::string& name) {
    return result.out.find("error unknown command: " + name + "\n") != std::string::npos;
}

bool refusedOnError(const ProcessResult& result, const std::string& name) {
    return result.err.find("unknown command: " + name + "\n") != std::string::npos;
}

const Tool kTools[] = {
    {"dk-engine-cli/dk-engine-cli", "The command file",
     [](const TempDir&) {
         return std::vector<std::string>{binary("dk-engine-cli/dk-engine-cli"), DK_SOURCE_DIR "/tests/cli/data/recorder.lua"};
     },
     refusedOnError,
     {"Accelerated", "BehaviorInitiatedPause", "DestroyState", "ExtractGameAtPath", "GetIntendedDisplaySize",
      "GetInterfaceOrientation", "Init", "InitEngine", "LoadDatabaseLib", "LoadEngineFromPath", "LoadGame",
      "LoadInitialScene", "MouseUp", "NewState", "Play", "RaiseExternalEvent", "SetDeviceOrientation", "SetScreenSize",
      "SetShouldChangeToScene", "SetVolume", "Stop", "SystemInitiatedPause", "TouchCancel", "TouchDown", "TouchMoved",
      "TouchUp", "Update", "resumeSound", "screenshot", "stacktop", "suspendSound"}},
    {"dk-analytics-cli/dk-analytics-cli", "Commands",
     [](const TempDir& dir) {
         return std::vector<std::string>{binary("dk-analytics-cli/dk-analytics-cli"), "--home", dir.file("home")};
     },
     refusedOnOutput, {"run", "settle", "time", "peak-memory", "store", "uploader", "metrics", "hits", "ps", "analytics"}},
    {"dk-kiosk-cli/dk-kiosk-cli", "With --home",
     [](const TempDir& dir) {
         return std::vector<std::string>{binary("dk-kiosk-cli/dk-kiosk-cli"), "--home", dir.file("home"), "--net", "none",
                                         "--web", "none"};
     },
     refusedOnOutput,
     {"run", "settle", "time", "peak-memory", "defaults", "cache", "udid", "pasteboard", "open", "optout", "session", "gid", "requests",
      "timeingame", "app", "rotate", "status-bar", "loader", "unit", "tap", "memory.warning", "screenshot", "content",
      "close-button", "purchase", "badge"}},
    {"dk-orbad-cli/dk-orbad-cli", "Commands",
     [](const TempDir& dir) {
         return std::vector<std::string>{binary("dk-orbad-cli/dk-orbad-cli"), "--home", dir.file("home"), "--net",
                                         "none",  "--web", "none", "--endpoint", "orbad=http://127.0.0.1:9"};
     },
     refusedOnOutput,
     {"run",      "settle",    "time",  "peak-memory",     "json",        "b64",          "b64x",     "encode-id", "sha1",
      "query",    "aes",       "image",      "net",         "reach",        "get",      "form",      "cancel",
      "event",    "start",     "app",        "location",    "battery",      "config",   "env",       "session",
      "defaults", "pasteboard", "adunit",    "candidates",  "pick",         "alert",    "instr",     "demographics",
      "feedback", "model",     "creative",   "views",       "screenshot",   "web",      "rotate",    "banner",
      "tap",      "memory-warning", "browser", "sheet",     "video",        "movie",    "fullscreen", "widget",
      "camera",   "compose",   "motion",     "gps",         "heading",      "accel",    "shake"}},
};

// A command line that names each command in turn is run through one command file; a name is
// known when the tool did not refuse it as unknown (it may refuse its missing arguments).
TEST(ToolHelp, NamesEveryCommandTheToolRunsAndNoOther) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.binary);
        const ProcessResult help = runProcess({binary(tool.binary), "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        const std::vector<std::string> listed = helpCommandWords(help.out, tool.heading);
        EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), tool.commands) << help.out;

        TempDir dir;
        auto runLines = [&](const std::string& lines) {
            writeFile(dir.file("lines.commands"), lines);
            std::vector<std::string> argv = tool.commandMode(dir);
            argv.insert(argv.begin() + 1, {"--commands", dir.file("lines.commands")});
            return runProcess(argv, {}, dir.path());
        };
        std::string lines;
        for (const std::string& name : tool.commands) lines += name + "\n";
        const ProcessResult run = runLines(lines);
        std::vector<std::string> unknown;
        for (const std::string& name : tool.commands)
            if (tool.unknown(run, name)) unknown.push_back(name);
        EXPECT_EQ(unknown, std::vector<std::string>{}) << run.out << run.err;
        // The check itself: a name the tool does not have is found refused.
        EXPECT_TRUE(tool.unknown(runLines("no-such-command\n"), "no-such-command"));
    }
}

}  // namespace
}  // namespace dktest
