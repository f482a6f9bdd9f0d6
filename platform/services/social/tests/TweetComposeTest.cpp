// The compose sheet's picture: what cannot be read leaves the sheet without one, said in one line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/services/social/TweetComposeViewController.h"
#include "platform/sys/WholeFile.h"
#include "tests/support/TestSupport.h"

namespace {

// A FIFO held the game in its open for ever; /dev/zero and a file past any picture grew without end.
TEST(TweetCompose, AnImageThatIsNoFileOrTooLargeLeavesTheSheetWithout) {
    dktest::TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo.png").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.png"));
    dktest::writeFile(dir.file("huge.png"), "");
    std::filesystem::resize_file(dir.file("huge.png"), plat::sys::kImageCap.bytes + 1);
    const std::pair<std::string, std::string> cases[] = {
        {dir.file("fifo.png"), "not a file (a FIFO)"},
        {dir.file("zero.png"), "not a file (a character device)"},
        {dir.file("huge.png"), "over 64 MiB, the most an image may hold"},
    };
    for (const auto& [file, why] : cases) {
        plat::social::TweetComposeViewController sheet;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(sheet.addImage(file));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "compose sheet: no image from " + file + ": " + file + ": " +
                                                              why + "\n");
    }
}

}  // namespace
