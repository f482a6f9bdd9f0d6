// The script's commands on a virtual clock: each at its time after launch, equal times in file
// order, and the trace line each writes before what it does.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/host/InputPlayer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;
using plat::foundation::Trace;
using plat::foundation::TraceCategory;
using plat::host::InputCommand;
using plat::host::InputPlayer;
using plat::host::parseInputScript;

TraceCategory kProbe("probe");

std::vector<InputCommand> script(const std::string& text) {
    std::string error;
    auto commands = parseInputScript(text, "s.txt", &error);
    EXPECT_TRUE(commands) << error;
    return commands ? *commands : std::vector<InputCommand>{};
}

// Trace lines without their time stamps (the process clock is real here).
std::vector<std::string> traceLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(dktest::readFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
    return lines;
}

struct Played {
    std::shared_ptr<Clock> clock = std::make_shared<Clock>(Clock::Kind::Virtual);
    RunLoop loop{clock};
    std::vector<std::string> ran;  // "TEXT@TIME" in the order run

    InputPlayer::Handler handler() {
        return [this](const InputCommand& command) -> std::function<void()> {
            if (command.argument.find("skip") != std::string::npos) return nullptr;
            if (command.kind == plat::host::InputKind::Await) return [] {};  // the host's way
            return [this, &command] {
                char at[32];
                std::snprintf(at, sizeof at, "@%g", loop.now());
                ran.push_back(command.argument + at);
                plat::foundation::trace(kProbe, command.argument);
            };
        };
    }
};

TEST(InputPlayer, RunsEachCommandAtItsTimeEqualTimesInFileOrder) {
    Played p;
    InputPlayer player(script("1 mark c\n"
                              "0.5 mark a\n"
                              "+0.5 mark d\n"
                              "0.25 mark b\n"
                              "1 mark e\n"
                              "+0 mark f\n"),
                       p.handler());
    p.loop.runFor(2);  // launch at 2 seconds of the clock
    player.start(p.loop, p.loop.now());
    plat::foundation::Timer later = p.loop.addTimer(1, [&] { p.ran.push_back("armed after the script@3"); });
    p.loop.runFor(5);
    EXPECT_EQ(p.ran, (std::vector<std::string>{"b@2.25", "a@2.5", "c@3", "d@3", "e@3", "f@3",
                                               "armed after the script@3"}));
}

TEST(InputPlayer, TracesEachCommandBeforeItRunsAndMarksTheIgnored) {
    dktest::TempDir dir;
    ASSERT_TRUE(Trace::configure("input,probe", dir.file("trace.txt").c_str()));
    Played p;
    InputPlayer player(script("0 mark one\n"
                              "0 mark skip  this\n"
                              "+1   mark   two  \n"),
                       p.handler());
    player.start(p.loop, 0);
    p.loop.runFor(2);
    Trace::configure("", nullptr);
    EXPECT_EQ(traceLines(dir.file("trace.txt")), (std::vector<std::string>{
                                                     "input mark one",
                                                     "probe one",
                                                     "input mark skip  this ignored",
                                                     "input mark   two",
                                                     "probe two",
                                                 }));
}

TEST(InputPlayer, StoppedCommandsNeverRun) {
    Played p;
    InputPlayer player(script("1 mark a\n2 mark b\n3 mark c\n"), p.handler());
    player.start(p.loop, 0);
    plat::foundation::Timer quit = p.loop.addTimer(2, [&] { player.stop(); });
    p.loop.runFor(5);
    EXPECT_EQ(p.ran, (std::vector<std::string>{"a@1", "b@2"}));
}

}  // namespace

namespace {

// What follows an await waits for a line holding its text, logged or traced (a line written before
// the await's time counts, the script's own lines do not), and keeps its spacing from then.
TEST(InputPlayer, AnAwaitHoldsWhatFollowsUntilItsLineIsWritten) {
    dktest::TempDir dir;
    ASSERT_TRUE(Trace::configure("input,probe", dir.file("trace.txt").c_str()));
    Played p;
    InputPlayer player(script("1 mark a\n"
                              "+0 await probe ready\n"
                              "+0.5 mark b\n"
                              "+0 await an early bird\n"
                              "+1 mark c\n"
                              "+0 await mark c\n"  // only the script's own line holds it
                              "+0 mark d\n"),
                       p.handler());
    player.start(p.loop, 0);
    plat::foundation::log("an early bird sings");
    plat::foundation::Timer ready = p.loop.addTimer(3, [] { plat::foundation::trace(kProbe, "ready"); });
    p.loop.runFor(6);  // while an await waits, the clock keeps to real time
    Trace::configure("", nullptr);
    // d never runs: its await's text was only in the script's own line.
    const std::vector<std::pair<std::string, double>> expected = {{"a", 1}, {"b", 3.5}, {"c", 4.5}};
    ASSERT_EQ(p.ran.size(), expected.size()) << ::testing::PrintToString(p.ran);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string& ran = p.ran[i];
        EXPECT_EQ(ran.substr(0, ran.find('@')), expected[i].first);
        EXPECT_NEAR(std::stod(ran.substr(ran.find('@') + 1)), expected[i].second, 0.05) << ran;
    }
}

// An await for what another thread says (a page, a server) holds a virtual clock meanwhile: the
// clock raced from look to look, so a run's end and the game's timers passed in milliseconds.
TEST(InputPlayer, AnAwaitHoldsAVirtualClockWhileItWaits) {
    Played p;
    InputPlayer player(script("0 await from afar\n+0 mark after\n"), p.handler());
    const auto began = std::chrono::steady_clock::now();
    const auto realSeconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    };
    player.start(p.loop, 0);
    // The line comes after a little real time, or as soon as the virtual clock has run ahead of it.
    std::thread afar([&] {
        while (realSeconds() < 0.3 && p.clock->now() < 1) std::this_thread::yield();
        plat::foundation::log("word from afar");
    });
    p.loop.runFor(60);
    afar.join();
    const double elapsed = realSeconds();
    ASSERT_EQ(p.ran.size(), 1u);
    const std::string& ran = p.ran.front();
    EXPECT_EQ(ran.substr(0, ran.find('@')), "after");
    EXPECT_LE(std::stod(ran.substr(ran.find('@') + 1)), elapsed) << ran;
}

}  // namespace
