// dk-orbad-cli's device input and the stand-ins' happenings, line for line.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-orbad-cli/dk-orbad-cli";

TEST(OrbadCliDevice, SensorsThroughTheStandIns) {
    dktest::TempDir work;
    for (const char* name : {"device.commands", "rich-ad.json"})
        std::filesystem::copy(std::string(DK_TEST_DATA_DIR "/") + name, work.file(name));
    const std::string services = work.file("home/Library/LocalServices");
    std::filesystem::create_directories(services);
    const std::string plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>";
    dktest::writeFile(services + "/motion.plist", plist + "gyroAvailable</key><true/></dict></plist>\n");
    dktest::writeFile(services + "/location.plist", plist + "headingAvailable</key><true/></dict></plist>\n");
    dktest::ProcessResult result = dktest::runProcess(
        {kCli, "--home", work.file("home"), "--clock", "virtual", "--start-time", "1700000000", "--net", "none",
         "--web", "fake", "--commands", "device.commands"},
        {"TZ=UTC"}, work.path());
    EXPECT_EQ(result.out, dktest::readFile(DK_TEST_DATA_DIR "/device.out"));
    EXPECT_EQ(result.status, 2);  // the bad input lines
}

}  // namespace
