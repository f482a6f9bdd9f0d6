// dk-kiosk-cli's one-shot modes as a whole program: every case of data/cli.cases run through the
// shell (in data/, so "< FILE" reads its inputs), its output, the first line of its standard
// error and its status compared with data/cli.out (DK_UPDATE_GOLDEN=1 rewrites it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-kiosk-cli/dk-kiosk-cli";

TEST(KioskCli, OneShotModesGiveTheirExpectedOutput) {
    std::istringstream cases(dktest::readFile(DK_TEST_DATA_DIR "/cli.cases"));
    std::string transcript, line;
    while (std::getline(cases, line)) {
        dktest::ProcessResult result = dktest::runProcess({"/bin/sh", "-c", "exec \"$0\" " + line, kCli}, {}, DK_TEST_DATA_DIR);
        transcript += "$ " + line + "\n" + result.out;
        if (!result.err.empty()) transcript += "stderr: " + result.err.substr(0, result.err.find('\n')) + "\n";
        transcript += "exit " + std::to_string(result.status) + "\n";
    }
    const std::string golden = DK_TEST_DATA_DIR "/cli.out";
    if (std::getenv("DK_UPDATE_GOLDEN")) dktest::writeFile(golden, transcript);
    EXPECT_EQ(transcript, dktest::readFile(golden));

    // Fresh tokens each time.
    dktest::ProcessResult first = dktest::runProcess({kCli, "util", "uuid"});
    dktest::ProcessResult second = dktest::runProcess({kCli, "util", "uuid"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out.size(), 28u);
    EXPECT_NE(first.out, second.out);
}

}  // namespace
