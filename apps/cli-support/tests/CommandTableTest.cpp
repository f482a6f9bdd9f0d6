#include "apps/cli-support/CommandTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "platform/foundation/Clock.h"

namespace {

using dk::tools::AreaCommand;
using dk::tools::Call;
using dk::tools::CommandTable;

// A table that keeps what it says, with two commands: `echo` answers its arguments' texts, `raw`
// reads its line as it stands.
struct Said {
    std::vector<std::string> lines;
    CommandTable table{[this](const std::string& line) { lines.push_back(line); }};

    Said() {
        table.add({"echo", {"echo [WORD]..."}, [this](Call& call) {
                       std::string out = "echo";
                       for (const dk::tools::Arg& arg : call.args) out += " <" + arg.text + ">";
                       return table.done(out);
                   }});
        table.add({"raw", {"raw TEXT"}, [this](Call& call) { return table.done("raw <" + call.rest.restOf() + ">"); },
                   true});
        table.add({"no", {"no"}, [this](Call&) { return table.refuse("usage: no"); }});
    }
    // What one line said, and whether it was taken.
    std::pair<std::string, bool> run(std::string_view line) {
        lines.clear();
        const bool taken = table.run(line);
        std::string out;
        for (const std::string& said : lines) out += said + "\n";
        return {out, taken};
    }
};

TEST(CommandTable, FindsEachLinesCommandOrSaysWhyNot) {
    struct Case {
        const char* line;
        const char* said;
        bool taken;
    };
    const Case cases[] = {
        {"echo", "echo\n", true},
        {"echo a \"b c\" {\"k\":1}", "echo <a> <b c> <>\n", true},
        {"  echo\ta  ", "echo <a>\n", true},
        {"raw {\"unclosed  x", "raw <{\"unclosed  x>\n", true},  // its own reading: no JSON
        {"no", "error usage: no\n", false},
        {"nothing here", "error unknown command: nothing\n", false},
        {"\"echo\" a", "error unknown command: \"echo\" a\n", false},
        // A malformed argument is said before the name is looked up.
        {"nothing {\"a\":", "error malformed argument: {\"a\":\n", false},
        {"echo \"a\"b", "error malformed argument: \"a\"b\n", false},
        {"Echo", "error unknown command: Echo\n", false},
    };
    Said said;
    for (const Case& c : cases) {
        const auto [out, taken] = said.run(c.line);
        EXPECT_EQ(out, c.said) << c.line;
        EXPECT_EQ(taken, c.taken) << c.line;
    }
}

TEST(CommandTable, ANameGivenTwiceIsTheToolsFault) {
    Said said;
    EXPECT_THROW(said.table.add({"echo", {"echo"}, [](Call&) { return true; }}), std::logic_error);
    EXPECT_THROW(said.table.add({"", {}, [](Call&) { return true; }}), std::logic_error);
    EXPECT_EQ(said.run("echo x").first, "echo <x>\n");  // the first one stays
}

// The first word of each form on each help line, as a reader of --help finds the commands.
std::vector<std::string> helpNames(const std::string& help) {
    std::vector<std::string> names;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.starts_with("  ")) << line;
        if (line.starts_with("   ")) continue;  // a description's wrapped line
        for (std::size_t at = 2;;) {
            const std::string name = line.substr(at, line.find(' ', at) - at);
            if (names.empty() || names.back() != name) names.push_back(name);
            const std::size_t next = line.find(" | ", at);
            if (next == std::string::npos) break;
            at = next + 3;
        }
    }
    return names;
}

// The shared commands, with a tool whose work is or is not in flight.
struct Tool {
    bool busy = false;
    int afterRuns = 0;
    double clockAfterRun = -1;
    Said said;

    Tool() {
        dk::tools::addSharedCommands(
            said.table, {[this] { return busy; }, "nothing is in flight", "the clock", [] { return std::string("time 12.500"); },
                         "the wall time", [this] {
                             ++afterRuns;
                             clockAfterRun = plat::foundation::Clock::process().now();
                             said.lines.push_back("after");
                         }});
    }
};

TEST(CommandTable, SharedCommandsCheckTheirArgumentsAndAnswerAlike) {
    plat::foundation::Clock::process().startVirtualAt(0);
    struct Case {
        const char* line;
        bool busy;
        const char* said;
    };
    const Case cases[] = {
        {"run", false, "error usage: run S\n"},
        {"run -1", false, "error usage: run S\n"},
        {"run x", false, "error usage: run S\n"},
        {"run 1 2", false, "error usage: run S\n"},
        {"run 0", false, "after\nok\n"},
        {"settle", false, "idle\n"},
        {"settle 0", true, "busy\n"},
        {"settle -1", false, "error usage: settle [MAX]\n"},
        {"settle 1 2", false, "error usage: settle [MAX]\n"},
        {"settle {\"a\":1}", false, "error usage: settle [MAX]\n"},
        {"time", false, "time 12.500\n"},
        {"time now", false, "error usage: time\n"},
        {"peak-memory now", false, "error usage: peak-memory\n"},
    };
    for (const Case& c : cases) {
        Tool tool;
        tool.busy = c.busy;
        EXPECT_EQ(tool.said.run(c.line).first, c.said) << c.line;
    }
}

TEST(CommandTable, RunMovesTheClockBeforeTheToolHasItsSay) {
    plat::foundation::Clock& clock = plat::foundation::Clock::process();
    clock.startVirtualAt(100);
    Tool tool;
    EXPECT_EQ(tool.said.run("run 2.5").first, "after\nok\n");
    EXPECT_EQ(tool.afterRuns, 1);
    EXPECT_DOUBLE_EQ(tool.clockAfterRun, 102.5);
    // Settling leaves the clock where it is.
    EXPECT_EQ(tool.said.run("settle 0").first, "idle\n");
    EXPECT_DOUBLE_EQ(clock.now(), 102.5);
}

// The figure grows with what the process has held, never shrinks.
TEST(CommandTable, PeakMemoryIsThePeakSoFar) {
    Tool tool;
    auto figure = [&] {
        const std::string said = tool.said.run("peak-memory").first;
        EXPECT_TRUE(said.starts_with("peak-memory ")) << said;
        return std::atol(said.c_str() + 12);
    };
    const long before = figure();
    EXPECT_GT(before, 0);
    {
        std::vector<char> held(64 << 20);
        for (std::size_t at = 0; at < held.size(); at += 4096) static_cast<volatile char*>(held.data())[at] = 1;
        EXPECT_GE(figure(), before + (48 << 10));
    }
    EXPECT_GE(figure(), before + (48 << 10));
}

TEST(CommandTable, HelpNamesEveryCommandInTheOrderAdded) {
    Tool tool;
    const std::string help = tool.said.table.help();
    EXPECT_EQ(helpNames(help), tool.said.table.names()) << help;
    EXPECT_EQ(tool.said.table.names(),
              (std::vector<std::string>{"echo", "raw", "no", "run", "settle", "time", "peak-memory"}));
    // A description starts at one column and wraps under it, no line past the width.
    EXPECT_NE(help.find("\n  settle [MAX]              no clock moved: "), std::string::npos) << help;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;
}

// An area's object may be made after its commands are in the table: each line runs on the object
// there is when it comes.
struct Counter {
    int count = 0;
    bool add(Call& call) {
        count += static_cast<int>(call.args.size());
        return true;
    }
};

TEST(CommandTable, AreaCommandsRunOnTheObjectOfTheMoment) {
    Said said;
    std::unique_ptr<Counter> counter;
    dk::tools::addArea<Counter>(said.table, {{"add", {"add [X]..."}, &Counter::add}},
                                [&]() -> Counter& { return *counter; });
    counter = std::make_unique<Counter>();
    EXPECT_TRUE(said.run("add a b c").second);
    EXPECT_EQ(counter->count, 3);
    counter = std::make_unique<Counter>();
    EXPECT_TRUE(said.run("add a").second);
    EXPECT_EQ(counter->count, 1);
    EXPECT_NE(said.table.help().find("  add [X]...\n"), std::string::npos);
}

}  // namespace
