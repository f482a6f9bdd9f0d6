#include "apps/cli-support/CommandTable.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/foundation/RunLoop.h"
#include "platform/sys/Excerpt.h"

namespace dk::tools {

void CommandTable::add(Command command) {
    if (command.name.empty() || m_index.count(command.name))
        throw std::logic_error("command named twice or not at all: " + command.name);
    m_index.emplace(command.name, m_commands.size());
    m_commands.push_back(std::move(command));
}

bool CommandTable::refuse(const std::string& why) const {
    m_say("error " + why);
    return false;
}

bool CommandTable::done(const std::string& line) const {
    m_say(line);
    return true;
}

bool CommandTable::run(std::string_view text) {
    Call call{{}, {}, Line{text}};
    std::string error;
    std::optional<Arg> first = call.rest.next(error);
    if (!first) return refuse(error.empty() ? "unknown command: " + plat::sys::excerpt(text) : error);
    if (first->quoted) return refuse("unknown command: " + plat::sys::excerpt(text));
    call.name = std::move(first->text);
    const auto at = m_index.find(call.name);
    const Command* command = at == m_index.end() ? nullptr : &m_commands[at->second];
    if (command && command->readsLine) return command->run(call);
    // Arguments are read whatever the name: a malformed one is said before an unknown name.
    for (Line args = call.rest; std::optional<Arg> arg = args.next(error);) call.args.push_back(std::move(*arg));
    if (!error.empty()) return refuse(error);
    if (!command) return refuse("unknown command: " + plat::sys::excerpt(call.name));
    return command->run(call);
}

std::string CommandTable::help() const {
    std::string out;
    for (const Command& command : m_commands)
        for (const std::string& line : command.help) out += "  " + line + "\n";
    return out;
}

std::vector<std::string> CommandTable::names() const {
    std::vector<std::string> out;
    for (const Command& command : m_commands) out.push_back(command.name);
    return out;
}

std::vector<std::string> describedHelp(const std::string& form, const std::string& what) {
    constexpr std::size_t kColumn = 26, kWidth = 96;
    std::vector<std::string> lines;
    std::string line = form + std::string(form.size() < kColumn ? kColumn - form.size() : 1, ' ');
    std::size_t start = 0;
    while (start < what.size()) {
        std::size_t end = what.size();
        if (line.size() + end - start > kWidth) {
            end = what.rfind(' ', start + (kWidth - line.size()));
            if (end == std::string::npos || end <= start) end = what.find(' ', start);
            if (end == std::string::npos) end = what.size();
        }
        line += what.substr(start, end - start);
        lines.push_back(line);
        line = std::string(kColumn, ' ');
        start = end < what.size() ? end + 1 : end;
    }
    if (lines.empty()) lines.push_back(form);
    return lines;
}

namespace {

// VmHWM of /proc/self/status in kB; -1 when unreadable.
long peakResidentKb() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    long kb = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
    std::fclose(status);
    return kb;
}

}  // namespace

void addSharedCommands(CommandTable& table, SharedCommands shared) {
    auto busy = shared.busy;
    table.add({"run", describedHelp("run S", "S seconds of " + shared.runHelp),
               [&table, after = shared.afterRun](Call& call) {
                   double seconds;
                   if (call.args.size() != 1 || !parseDouble(call.args[0].text, seconds) || seconds < 0)
                       return table.refuse("usage: run S");
                   plat::foundation::RunLoop::main().runFor(seconds);
                   if (after) after();
                   return table.done();
               }});
    // The clock stays where it is: a retry delay or a time-out on the virtual clock passes only
    // with `run`, so settling never moves the times later commands stamp.
    table.add({"settle",
               describedHelp("settle [MAX]", "no clock moved: up to MAX real seconds (10) until " + shared.busyHelp +
                                             ", answering idle or busy"),
               [&table, busy](Call& call) {
                   double limit = 10;
                   if (call.args.size() > 1 ||
                       (call.args.size() == 1 && (!parseDouble(call.args[0].text, limit) || limit < 0)))
                       return table.refuse("usage: settle [MAX]");
                   return table.done(turnWhileBusy(busy, limit) ? "idle" : "busy");
               }});
    table.add({"time", describedHelp("time", shared.timeHelp), [&table, time = shared.time](Call& call) {
                   if (!call.args.empty()) return table.refuse("usage: time");
                   return table.done(time());
               }});
    // So a test bounds what an answer cost against the figure before it.
    table.add({"peak-memory", describedHelp("peak-memory", "the process's peak resident memory so far, in kB"),
               [&table](Call& call) {
                   if (!call.args.empty()) return table.refuse("usage: peak-memory");
                   return table.done("peak-memory " + std::to_string(peakResidentKb()));
               }});
}

}  // namespace dk::tools
