// drovik-player's command line: every option read, the bundle from its three places, and the
// refusals that make exit status 2.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "apps/drovik-player/PlayerOptions.h"

namespace {

using plat::host::ClockChoice;

PlayerOptions parsed(const std::vector<std::string>& arguments, const char* environment = nullptr) {
    PlayerOptions options;
    std::string error;
    EXPECT_TRUE(parsePlayerOptions(arguments, environment, &options, &error)) << error;
    return options;
}

TEST(PlayerOptions, ReadsEveryOption) {
    const PlayerOptions o = parsed({"--home", "h", "--headless", "--input", "-", "--screenshot", "s.png", "--device",
                                  "tablet", "--device-orientation", "3", "--system-version", "5.1.1", "--clock=real",
                                  "--duration", "2.5", "--frames", "120", "--net", "wwan", "--trace", "input,ui",
                                  "--trace-file", "t.txt", "--zoom", "2", "--probe-plugin", "--web", "fake", "--device-facts", "f.plist",
                                  "--drain-seconds", "0.5", "Game.app"});
    EXPECT_EQ(o.bundle, "Game.app");
    EXPECT_EQ(o.home, "h");
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.input, "-");
    EXPECT_EQ(o.screenshot, "s.png");
    EXPECT_EQ(o.device, "tablet");
    EXPECT_EQ(o.deviceOrientation, 3);
    EXPECT_EQ(o.systemVersion, "5.1.1");
    EXPECT_EQ(o.clock, ClockChoice::Real);
    EXPECT_FALSE(o.virtualClock());
    EXPECT_EQ(o.duration, 2.5);
    EXPECT_EQ(o.frames, 120);
    EXPECT_EQ(o.net, "wwan");
    EXPECT_EQ(o.web, "fake");
    EXPECT_EQ(o.trace, "input,ui");
    EXPECT_EQ(o.traceFile, "t.txt");
    EXPECT_EQ(o.zoom, 2);
    EXPECT_TRUE(o.probePlugin);
    EXPECT_EQ(o.deviceFacts, "f.plist");
    EXPECT_EQ(o.drainSeconds, 0.5);
    EXPECT_FALSE(o.help);
}

TEST(PlayerOptions, DefaultsAndTheClockEachRunGets) {
    const PlayerOptions window = parsed({"Game.app"});
    EXPECT_EQ(window.device, "phone-retina");
    EXPECT_EQ(window.deviceOrientation, 0);
    EXPECT_EQ(window.systemVersion, "6.1");
    EXPECT_FALSE(window.duration);
    EXPECT_EQ(window.drainSeconds, 2);
    EXPECT_FALSE(window.frames);
    EXPECT_FALSE(window.trace);
    EXPECT_TRUE(window.net.empty());
    EXPECT_FALSE(window.virtualClock());
    EXPECT_TRUE(parsed({"--headless", "Game.app"}).virtualClock());
    EXPECT_FALSE(parsed({"--headless", "--clock", "real", "Game.app"}).virtualClock());
    EXPECT_TRUE(parsed({"--clock", "virtual", "Game.app"}).virtualClock());
}

TEST(PlayerOptions, TheBundleComesFromTheArgumentTheOptionOrTheEnvironment) {
    EXPECT_EQ(parsed({"A.app"}, "E.app").bundle, "A.app");
    EXPECT_EQ(parsed({"--bundle", "B.app"}, "E.app").bundle, "B.app");
    EXPECT_EQ(parsed({"--headless"}, "E.app").bundle, "E.app");
    EXPECT_EQ(parsed({"--", "--odd.app"}).bundle, "--odd.app");
    EXPECT_TRUE(parsed({"--help"}).help);
    EXPECT_TRUE(parsed({"-h"}).help);
}

TEST(PlayerOptions, RefusesABadCommandLine) {
    const struct Case {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{}, "no BUNDLE: give its path, --bundle DIR or $DROVIK_BUNDLE"},
        {{"--headless"}, "no BUNDLE: give its path, --bundle DIR or $DROVIK_BUNDLE"},
        {{"A.app", "B.app"}, "one bundle only: A.app and B.app"},
        {{"A.app", "--bundle", "B.app"}, "one bundle only: A.app and B.app"},
        {{"--fast", "A.app"}, "unknown option --fast"},
        {{"-x", "A.app"}, "unknown option -x"},
        {{"A.app", "--home"}, "--home needs a value"},
        {{"A.app", "--input", ""}, "--input needs a value"},
        {{"A.app", "--headless=yes"}, "--headless takes no value"},
        {{"A.app", "--device", "watch"},
         "--device takes phone, phone-retina, phone5, tablet or tablet-retina, not \"watch\""},
        {{"A.app", "--device-orientation", "5"}, "--device-orientation takes 1, 2, 3 or 4, not \"5\""},
        {{"A.app", "--device-orientation", "0"}, "--device-orientation takes 1, 2, 3 or 4, not \"0\""},
        {{"A.app", "--clock", "fast"}, "--clock takes virtual or real, not \"fast\""},
        {{"A.app", "--duration", "-1"}, "--duration takes seconds, not \"-1\""},
        {{"A.app", "--duration", "1e9"}, "--duration takes seconds, not \"1e9\""},
        {{"A.app", "--drain-seconds", "-1"}, "--drain-seconds takes seconds, not \"-1\""},
        {{"A.app", "--frames", "0"}, "--frames takes a number of frames from 1, not \"0\""},
        {{"A.app", "--frames", "1.5"}, "--frames takes a number of frames from 1, not \"1.5\""},
        {{"A.app", "--net", "lan"}, "--net takes wifi, wwan or none, not \"lan\""},
        {{"A.app", "--zoom", "0"}, "--zoom takes a size above 0, not \"0\""},
        {{"A.app", "--web", "gecko"}, "--web takes wpe, fake or none, not \"gecko\""},
        {{"A.app", "--trace", "Input"}, "--trace: no category \"Input\""},
        {{"A.app", "--trace=input,,netx"}, "--trace: no category \"netx\""},
    };
    for (const Case& c : cases) {
        PlayerOptions options;
        std::string error;
        EXPECT_FALSE(parsePlayerOptions(c.arguments, nullptr, &options, &error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
    // Empty items and "all" are nothing to refuse.
    for (const char* categories : {"all,", "", "input,,ui"}) {
        PlayerOptions options;
        std::string error;
        EXPECT_TRUE(parsePlayerOptions({"A.app", "--trace", categories}, nullptr, &options, &error)) << error;
    }
}

// The table drives both the parser and the help: each row must be reachable and shown.
TEST(PlayerOptions, EachRowIsReadAndListed) {
    const std::string usage = playerUsage();
    for (const PlayerOption& option : playerOptionTable()) {
        const std::string name(option.name);
        PlayerOptions options;
        std::string error;
        if (option.takes == PlayerOption::Flag) {
            EXPECT_FALSE(parsePlayerOptions({"A.app", name + "=x"}, nullptr, &options, &error));
            EXPECT_EQ(error, name + " takes no value");
        } else {
            EXPECT_FALSE(parsePlayerOptions({"A.app", name}, nullptr, &options, &error));
            EXPECT_EQ(error, name + " needs a value");
        }
        if (!option.help.empty()) {
            EXPECT_NE(usage.find("\n  " + name + " "), std::string::npos) << name;
        }
    }
    // The categories --trace accepts are the ones its help lists, and no others.
    const std::string before = "(else $DROVIK_TRACE):";
    const size_t from = usage.find(before) + before.size(), to = usage.find("  --trace-file");
    ASSERT_LT(from, to);
    std::istringstream listed(usage.substr(from, to - from));
    std::set<std::string> words;
    for (std::string word; listed >> word;) words.insert(word);
    const std::vector<std::string_view>& categories = playerTraceCategories();
    EXPECT_EQ(words.size(), categories.size());
    for (std::string_view category : categories) EXPECT_TRUE(words.count(std::string(category))) << category;
}

}  // namespace
