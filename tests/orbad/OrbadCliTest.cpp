// dk-orbad-cli as a whole program: its frame and its commands, line for line.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/image/ImageCodec.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-orbad-cli/dk-orbad-cli";

TEST(OrbadCli, CommandFileGivesItsExpectedLines) {
    dktest::TempDir work;
    for (const auto& entry : std::filesystem::directory_iterator(DK_TEST_DATA_DIR))
        std::filesystem::copy(entry.path(), work.path() + "/" + entry.path().filename().string());
    dktest::ProcessResult result =
        dktest::runProcess({kCli, "--home", work.path() + "/home", "--start-time", "1700000000", "--web",
                            "fake", "--net", "none", "--pasteboards", work.path() + "/pb", "--endpoint",
                            "ads=http://127.0.0.1:9", "--commands", "frame.commands"},
                           {}, work.path());
    EXPECT_EQ(result.out, dktest::readFile(DK_TEST_DATA_DIR "/frame.out"));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    std::string error;
    ASSERT_TRUE(plat::image::readPNG(work.path() + "/close.png", &width, &height, &rgba, &error)) << error;
    EXPECT_EQ(width, 60);
    EXPECT_EQ(rgba[(30 * 60 + 30) * 4 + 3], 255) << "the disc is opaque";
    EXPECT_EQ(rgba[3], 0) << "the corner is clear";
}

TEST(OrbadCli, BadCommandLinesAreRefused) {
    dktest::TempDir home;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--home", home.path(), "--net", "lte"},
                                               {"--home", home.path(), "--web", "x"},
                                               {"--home", home.path(), "--device", "toaster"},
                                               {"--home", home.path(), "--bogus", "1"}}) {
        std::vector<std::string> argv = {kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(dktest::runProcess(argv).status, 2) << (args.size() > 2 ? args[2] : "");
    }
}

}  // namespace
