#include "apps/cli-support/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The client tools' command line: common options, a tool's own, and what is said of a wrong one.
TEST(ToolOptions, EachWrongCommandLineIsNamedForWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        std::string why;
    } cases[] = {
        {{"--home", "h", "--net=wifi", "--seed", "7"}, ""},
        {{"--home", "h", "--bogus"}, "unknown option --bogus"},
        {{"--home", "h", "--bogus=1"}, "unknown option --bogus"},
        {{"--bogus", "x", "--home", "h"}, "unknown option --bogus"},
        {{"--home", "h", "extra"}, "unknown option extra"},
        {{"--home", "h", "--net"}, "missing value for --net"},
        {{"--home"}, "missing value for --home"},
        {{"--home", "h", "--net", "lan"}, "--net takes wifi, wwan or none"},
        {{"--seed", "x", "--home", "h"}, "--seed takes an integer"},
        {{"--log"}, "--home is required"},
        {{"--bogus", "-h"}, "unknown option --bogus"},
        {{"-h", "--bogus"}, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> words = {"tool"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        dk::tools::ToolOptions options;
        std::string net;
        const std::string why = dk::tools::parseToolOptions(
            static_cast<int>(argv.size()), argv.data(), options,
            {{"--net"}, [&](const std::string&, const std::string& value, std::string& error) {
                 if (value != "wifi" && value != "wwan" && value != "none") error = "--net takes wifi, wwan or none";
                 net = value;
             }});
        EXPECT_EQ(why, c.why) << testing::PrintToString(c.args);
        if (c.args.front() == "--home" && why.empty()) {
            EXPECT_EQ(net, "wifi");
            EXPECT_EQ(options.seed, 7);
        }
    }
}

}  // namespace
