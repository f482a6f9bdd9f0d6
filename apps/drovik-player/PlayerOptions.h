// drovik-player's command line: the host's options and the player's own (the page engine, the
// device facts file, the analytics clients' drain time at exit, the plugin probe). Each option is
// one row of a table, which both the parser and the --help text read.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/HostOptions.h"

struct PlayerOptions : plat::host::HostOptions {
    std::string web = "wpe";  // wpe|fake|none: the page engine behind web views
    std::string deviceFacts;  // --device-facts: the device facts file (empty: $DROVIK_DEVICE_FACTS)
    double drainSeconds = 2;  // real seconds to wait at exit for the analytics clients
    bool probePlugin = false;
    bool help = false;
};

struct PlayerOption {
    enum Takes { Flag, Value, Text };  // Text: a value that may not be empty
    std::string_view name;
    Takes takes;
    std::string_view argument;  // as --help shows it
    std::string help;           // its lines after the first indented under it; empty: not listed
    // Sets the option from its value (empty for a flag); what is wrong with the value, else nullopt.
    std::optional<std::string> (*set)(PlayerOptions& options, const std::string& value);
};

// Every option, in the order --help lists them.
std::span<const PlayerOption> playerOptionTable();

// Reads the arguments after the program's name ("-h" is "--help"). False, with `error` saying what
// is wrong, for a bad command line. `environmentBundle` is $DROVIK_BUNDLE (null when unset); --help needs no bundle.
bool parsePlayerOptions(const std::vector<std::string>& arguments, const char* environmentBundle,
                        PlayerOptions* options, std::string* error);

// The trace categories of the player's code, which --trace accepts besides "all"; the help lists
// them.
const std::vector<std::string_view>& playerTraceCategories();

// What is wrong with a comma list of trace categories from `source` ("--trace", "$DROVIK_TRACE"):
// the first one --trace does not accept; nullopt when all are accepted.
std::optional<std::string> refusedTraceCategories(std::string_view source, std::string_view list);

// The --help text.
std::string playerUsage();
