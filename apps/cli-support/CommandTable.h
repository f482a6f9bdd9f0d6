// The client tools' commands as one table: each command's name, its lines in --help and its
// handler, found by name for each command line. The commands every tool has (run, settle, time)
// come from here too, with what the tool waits on.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/cli-support/CommandLine.h"

namespace dk::tools {

// One command line as its handler gets it.
struct Call {
    std::string name;
    std::vector<Arg> args;  // the arguments, read unless the command reads the line itself
    Line rest;              // what follows the name (all of it when the command reads the line itself)
};

// False when the line was refused, after the handler said "error ...".
using Handler = std::function<bool(Call& call)>;

struct Command {
    std::string name;
    // Its lines in --help, the first word of each form (forms are separated by " | ") its name:
    // "store add TEXT | store count", or with what it does after a gap: "time      the wall time".
    std::vector<std::string> help;
    Handler run;
    bool readsLine = false;  // arguments as the command reads them, not as JSON or bare words
};

using Say = std::function<void(const std::string& line)>;

// What an area's commands say: their lines and refusals.
class Voice {
public:
    explicit Voice(Say say) : m_say(std::move(say)) {}
    void say(const std::string& line) const { m_say(line); }
    // Says "error <why>"; false, for a handler to return.
    bool refuse(const std::string& why) const {
        m_say("error " + why);
        return false;
    }
    // Says `line`; true, for a handler to return.
    bool done(const std::string& line = "ok") const {
        m_say(line);
        return true;
    }

private:
    Say m_say;
};

class CommandTable {
public:
    explicit CommandTable(Say say) : m_say(std::move(say)) {}
    // Handlers hold on to their table.
    CommandTable(const CommandTable&) = delete;
    CommandTable& operator=(const CommandTable&) = delete;

    // A name added twice is a fault of the tool: it throws std::logic_error.
    void add(Command command);
    // Runs one command line; false, after "error ...", when it is malformed, names no command or
    // its command refused it.
    bool run(std::string_view line);
    // The commands' help lines, in the order they were added, each indented by two spaces.
    std::string help() const;
    std::vector<std::string> names() const;

    void say(const std::string& line) const { m_say(line); }
    // Says "error <why>"; false, for a handler to return.
    bool refuse(const std::string& why) const;
    // Says `line` (by default "ok"); true, for a handler to return.
    bool done(const std::string& line = "ok") const;

private:
    Say m_say;
    std::vector<Command> m_commands;  // in the order added
    std::map<std::string, std::size_t, std::less<>> m_index;
};

// A command of one area of a tool: a member function of the object that keeps the area's state.
template <class Area>
struct AreaCommand {
    std::string name;
    std::vector<std::string> help;
    bool (Area::*run)(Call& call);
    bool readsLine = false;
};

// Adds an area's commands, each run on the object `area` gives when its line comes: the table
// (and --help) can be had before the tool has made its areas.
template <class Area>
void addArea(CommandTable& table, const std::vector<AreaCommand<Area>>& commands, std::function<Area&()> area) {
    for (const AreaCommand<Area>& command : commands)
        table.add({command.name, command.help,
                   [area, run = command.run](Call& call) { return (area().*run)(call); }, command.readsLine});
}

// Help lines for `form` with what it does: from the 29th column of --help on, wrapped under it.
std::vector<std::string> describedHelp(const std::string& form, const std::string& what);

// What the shared commands need of a tool.
struct SharedCommands {
    // Whether the tool's client still has work in flight: what `settle` waits on.
    std::function<bool()> busy;
    std::string busyHelp;  // `settle`'s help: what it waits for ("no request is in flight")
    std::string runHelp;   // `run`'s help after "S seconds of ..."
    // `time`'s answer line; the tool's wall time in its help.
    std::function<std::string()> time;
    std::string timeHelp;
    // Said before `run`'s "ok", after the clock has moved (what came up meanwhile).
    std::function<void()> afterRun;
};

// run S, settle [MAX], time and peak-memory.
void addSharedCommands(CommandTable& table, SharedCommands shared);

}  // namespace dk::tools
