// What the clients' command-line tools share: their common options and start-up, their command
// lines (blank-separated words, JSON string or object arguments), numbers in options and
// arguments, and the loop that reads a command file a line at a time.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"

namespace dk::tools {

bool parseDouble(const std::string& text, double& out);
bool parseInt(const std::string& text, long long& out);

// The options every client tool takes.
struct ToolOptions {
    std::string home, bundle, clock = "virtual", commands, deviceFacts;
    std::optional<double> startTime;
    std::optional<long long> seed;
    std::vector<std::pair<std::string, std::string>> endpoints;  // NAME=VALUE, in order
    bool log = false;
    bool help = false;  // --help (or -h): the usage, nothing run
};

// A tool's usage: its synopsis (the command line) and its commands.
struct Usage {
    const char* tool;
    const char* synopsis;
    const char* commands;
};
// --help's answer: the whole usage on standard output; status 0.
int printHelp(const Usage& usage);
// A command line refused: "<tool>: <why>", the synopsis and a pointer to --help on standard error;
// status 2.
int refuseCommandLine(const Usage& usage, const std::string& why);

// A tool's own options: their names, and what reads one's value (setting `error` when it refuses it).
struct OwnOptions {
    std::vector<std::string_view> names;
    std::function<void(const std::string& option, const std::string& value, std::string& error)> read;
};

// Reads "--name value" and "--name=value" options (and the bare --log, --help and -h); "" when all
// were read and --home was given (or help asked for), else what is wrong. An option neither common
// nor the tool's own is "unknown option NAME", wherever it stands.
std::string parseToolOptions(int argc, char** argv, ToolOptions& options, const OwnOptions& own = {});

// Starts the virtual clock when asked, opens the bundle and the container under the home as the
// main ones (the container named by the bundle, else `defaultIdentifier`), takes the device facts
// file, and opens the command input. Null, after "<tool>: <why>" on standard error, on failure.
std::FILE* startTool(const char* tool, const char* defaultIdentifier, const ToolOptions& options);

// One argument: a bare word, or a decoded JSON string or object.
struct Arg {
    std::string text;  // the word or the decoded string
    std::optional<plat::foundation::Value> object;
    std::string raw;  // a quoted argument's text as given
    bool quoted = false;
};

struct Line {
    std::string_view rest;  // what follows the words read so far
    static bool isBlank(char c) { return c == ' ' || c == '\t'; }
    void skipBlanks();
    // The next argument; nullopt at the end, or with `error` set when it is malformed.
    std::optional<Arg> next(std::string& error);
    // The next word as it stands, and the rest of the line with leading blanks skipped.
    bool takeWord(std::string& word);
    std::string restOf();
};

// A command line's command name and arguments; false, with `error` set to what to refuse, when an
// argument is malformed or the line does not start with a bare word.
bool splitCommand(std::string_view text, std::string& name, std::vector<Arg>& args, std::string& error);

// Text for a result line: backslash, CR, LF and tab escaped, other bytes below 0x20 as \xHH.
std::string escape(std::string_view text);

// Turns the main loop without moving its clock, handing out whatever is ready, until `busy` says
// no or `limit` real seconds have passed; true when it is no longer busy.
bool turnWhileBusy(const std::function<bool()>& busy, double limit);

// Reads lines from `in` until its end; blank lines and "#" comments are skipped. Each line goes to
// `run`, which prints what it has to say; standard output is flushed before the next line is read.
// Returns 2 when `run` refused a line (it printed "error ..."), else 0.
int runCommands(std::FILE* in, const std::function<bool(std::string_view line)>& run);

}  // namespace dk::tools
