// Game archives unpacked into the current directory. The archives in data/ have their entries
// dated 15 June 2020, 12:00.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "engine/DKEngine.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

// Extraction works on the current directory: each test runs inside a fresh one.
class Extract : public testing::Test {
protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        std::filesystem::create_directory(m_dir.file("out"));
        std::filesystem::current_path(m_dir.file("out"));
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    // Unpacks data/<name>.
    static int extract(const std::string& name) {
        return DK_ExtractGameAtPath((DK_TEST_DATA_DIR "/" + name).c_str());
    }

    TempDir m_dir;
    std::filesystem::path m_previous;
};

TEST_F(Extract, FilesAndDirectoriesWithLongNamesWholeAndTheirDates) {
    ASSERT_EQ(system("mkdir -p a/b && echo old-and-longer > a/b/c.txt"), 0);
    EXPECT_EQ(extract("files.zip"), 0);
    EXPECT_TRUE(std::filesystem::is_directory("dir/sub"));
    EXPECT_EQ(readFile("a/b/c.txt"), "new");
    EXPECT_EQ(readFile("x/y/big.bin"), std::string(100000, 'z'));
    EXPECT_EQ(readFile(std::string(200, 'd') + "/" + std::string(200, 'f') + ".txt"), "long");
    struct stat st;
    ASSERT_EQ(stat("a/b/c.txt", &st), 0);
    std::tm june{0, 0, 12, 15, 5, 120, 0, 0, -1, 0, nullptr};  // local time, as the archive's
    EXPECT_EQ(st.st_mtime, std::mktime(&june));
}

TEST_F(Extract, HostileNamesNeverWriteOutsideTheTarget) {
    // "../escaped.txt", "ok/../../escaped.txt", "/tmp/dk-extract-escaped.txt", "..\\escaped.txt",
    // "cut" NUL "x" and "safe/..hidden".
    extract("hostile.zip");
    EXPECT_FALSE(exists(m_dir.file("escaped.txt")) || exists("/tmp/dk-extract-escaped.txt"));
    EXPECT_FALSE(exists("cut"));  // the name is not cut at its NUL
    EXPECT_EQ(readFile("safe/..hidden"), "fine") << "a name that merely starts with dots is fine";
}

TEST_F(Extract, DamagedArchives) {
    EXPECT_EQ(extract("none.zip"), 0);
    writeFile(m_dir.file("game.zip"), "PK\x03\x04 this is not really a zip file");
    EXPECT_EQ(DK_ExtractGameAtPath(m_dir.file("game.zip").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_empty("."));

    // Damaged data stops at the damaged entry: "first.txt" holds 5000 a's, "second.txt" 5000 b's
    // with bytes of its compressed data flipped.
    extract("damaged.zip");
    EXPECT_EQ(readFile("first.txt"), std::string(5000, 'a'));
    EXPECT_NE(readFile("second.txt"), std::string(5000, 'b'));
}

}  // namespace
}  // namespace dktest
