// Named pasteboards: names on disk, persistence across processes, and concurrent writers.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Pasteboard.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Data;
using plat::foundation::Pasteboard;

class PasteboardTest : public ::testing::Test {
protected:
    void SetUp() override { Pasteboard::setDirectory(dir.path()); }
    void TearDown() override { Pasteboard::setDirectory({}); }

    // Runs `body` in a child process that ends with _exit(0), or is killed once `body` returns when
    // `kill` is set; waits for it.
    static void inChild(const std::function<void()>& body, bool kill = false) {
        const pid_t pid = fork();
        if (pid == 0) {
            body();
            if (kill) raise(SIGKILL);
            std::exit(0);  // static destructors run: the process ends as a game would
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }

    dktest::TempDir dir;
};

TEST_F(PasteboardTest, OddNamesMapToSafeFilesAndBack) {
    struct Case {
        std::string name, file;
    };
    const Case cases[] = {
        {"com.drovik.slot.7", "com.drovik.slot.7.plist"},
        {"a/b", "a%2Fb.plist"},
        {"..", "%2E..plist"},
        {".hidden", "%2Ehidden.plist"},
        {"with space%", "with%20space%25.plist"},
        {"caf\xc3\xa9", "caf%C3%A9.plist"},
        {std::string("nul\0in", 6), "nul%00in.plist"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Pasteboard::fileNameFor(c.name), c.file);
        std::unique_ptr<Pasteboard> board = Pasteboard::named(c.name, true);
        ASSERT_TRUE(board) << c.file;
        board->setPersistent(true);
        EXPECT_TRUE(board->setString(c.file));
        EXPECT_TRUE(dktest::exists(dir.file(c.file))) << c.file;
        EXPECT_EQ(Pasteboard::named(c.name, false)->string(), c.file);
    }
    std::vector<std::string> expected;
    for (const Case& c : cases) expected.push_back(c.name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Pasteboard::names(), expected);
    Pasteboard::remove("a/b");
    EXPECT_FALSE(Pasteboard::named("a/b", false));
}

TEST_F(PasteboardTest, OnlyPersistentOnesOutliveTheirMaker) {
    EXPECT_FALSE(Pasteboard::named("p", false));
    inChild([] {
        Pasteboard::named("kept", true)->setPersistent(true);
        Pasteboard::named("dropped", true)->setString("x");
    });
    inChild([] { Pasteboard::named("killed", true)->setString("x"); }, true);
    EXPECT_TRUE(Pasteboard::named("kept", false));
    EXPECT_FALSE(Pasteboard::named("dropped", false));
    EXPECT_FALSE(dktest::exists(dir.file("dropped.plist")));
    EXPECT_FALSE(Pasteboard::named("killed", false));  // its file stays, counted as absent

    std::unique_ptr<Pasteboard> mine = Pasteboard::named("mine", true);
    EXPECT_FALSE(mine->persistent());
    EXPECT_TRUE(Pasteboard::named("mine", false));  // its maker lives
}

TEST_F(PasteboardTest, AFileThatDoesNotParseIsAbsentAndCanBeMadeAgain) {
    dktest::writeFile(dir.file("bad.plist"), "bplist00 garbage");
    EXPECT_FALSE(Pasteboard::named("bad", false));
    std::unique_ptr<Pasteboard> board = Pasteboard::named("bad", true);
    ASSERT_TRUE(board);
    EXPECT_TRUE(board->setData({1, 2}, "t"));
    EXPECT_EQ(board->dataForType("t"), (Data{1, 2}));
    EXPECT_FALSE(board->dataForType("other"));
}

TEST_F(PasteboardTest, RacingWritersLoseNoUpdate) {
    Pasteboard::named("shared", true)->setPersistent(true);
    constexpr int kEach = 40;
    auto writer = [](char who) {
        return [who] {
            for (int i = 0; i < kEach; ++i)
                Pasteboard::named("shared", false)->setData({static_cast<std::uint8_t>(i)}, std::string(1, who) + std::to_string(i));
        };
    };
    const pid_t first = fork();
    if (first == 0) {
        writer('a')();
        _exit(0);
    }
    writer('b')();
    waitpid(first, nullptr, 0);
    std::unique_ptr<Pasteboard> board = Pasteboard::named("shared", false);
    for (int i = 0; i < kEach; ++i) {
        EXPECT_EQ(board->dataForType("a" + std::to_string(i)), (Data{static_cast<std::uint8_t>(i)})) << i;
        EXPECT_EQ(board->dataForType("b" + std::to_string(i)), (Data{static_cast<std::uint8_t>(i)})) << i;
    }
}

}  // namespace
