// What the clients' command-line tools share: their command lines (blank-separated words, JSON
// string or object arguments), numbers in options and arguments, and the loop that reads a command
// file a line at a time.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace dk::cli {

bool parseDouble(const std::string& text, double& out);
bool parseInt(const std::string& text, long long& out);

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

// The value of the option at argv[i]: what follows "=" in "--name=value" (the option then cut to
// its name), else the next argument, which `i` then passes. False when there is none.
bool optionValue(int argc, char** argv, int& i, std::string& option, std::string& value);

// Makes the bundle at `bundlePath` (when given) the main one and opens the app's container in
// `home` under the bundle's identifier, or `identifier` when it names none. On failure prints
// "TOOL: why" on standard error and answers false.
bool openHome(const char* tool, std::string identifier, const std::string& bundlePath, const std::string& home);

// The command file at `path`, or standard input when `path` is empty; null, after printing why as
// openHome does, when it cannot be read.
std::FILE* openCommands(const char* tool, const std::string& path);

// Text for a result line: backslash, CR, LF and tab escaped, other bytes below 0x20 as \xHH.
std::string escape(std::string_view text);

// Reads lines from `in` until its end; blank lines and "#" comments are skipped. Each line goes to
// `run`, which prints what it has to say; standard output is flushed before the next line is read.
// Returns 2 when `run` refused a line (it printed "error ..."), else 0.
int runCommands(std::FILE* in, const std::function<bool(std::string_view line)>& run);

}  // namespace dk::cli
