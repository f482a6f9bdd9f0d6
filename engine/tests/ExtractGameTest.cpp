#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "engine/DKEngine.h"
#include "tests/support/TestSupport.h"

namespace {

struct Entry {
    std::string name;
    std::string data;
};

void makeZip(const std::string& path, const std::vector<Entry>& entries, int year = 2020) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const Entry& e : entries) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = static_cast<uInt>(year);
        info.tmz_date.tm_mon = 5;  // June
        info.tmz_date.tm_mday = 15;
        info.tmz_date.tm_hour = 12;
        ASSERT_EQ(zipOpenNewFileInZip(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                      Z_DEFAULT_COMPRESSION),
                  ZIP_OK);
        if (!e.data.empty()) zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size()));
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
}

// Extraction works on the current directory: each test runs inside a fresh one.
class Extract : public testing::Test {
protected:
    void SetUp() override {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        previous = buf;
        target = dir.file("out");
        ASSERT_EQ(mkdir(target.c_str(), 0775), 0);
        ASSERT_EQ(chdir(target.c_str()), 0);
        archive = dir.file("game.zip");
    }
    void TearDown() override { EXPECT_EQ(chdir(previous.c_str()), 0); }

    dktest::TempDir dir;
    std::string previous, target, archive;
};

TEST_F(Extract, FilesAndDirectoriesAreCreatedAndOverwrittenWithLongNamesWhole) {
    ASSERT_EQ(system("mkdir -p a/b && echo old-and-longer > a/b/c.txt"), 0);
    const std::string big(100000, 'z');
    const std::string longName = std::string(200, 'd') + "/" + std::string(200, 'f') + ".txt";
    makeZip(archive, {{"dir/", ""},
                      {"dir/sub/", ""},
                      {"dir/sub/file.txt", "hello"},
                      {"a/b/c.txt", "new"},
                      {"x/y/z/big.bin", big},
                      {longName, "long"}});
    EXPECT_EQ(DK_ExtractGameAtPath(archive.c_str()), 0);
    EXPECT_EQ(dktest::readFile("dir/sub/file.txt"), "hello");
    EXPECT_EQ(dktest::readFile("a/b/c.txt"), "new");
    EXPECT_EQ(dktest::readFile("x/y/z/big.bin"), big);
    EXPECT_EQ(dktest::readFile(longName), "long");
}

TEST_F(Extract, FileTimesComeFromTheArchive) {
    makeZip(archive, {{"dated.txt", "d"}}, 2020);
    DK_ExtractGameAtPath(archive.c_str());
    struct stat st;
    ASSERT_EQ(stat("dated.txt", &st), 0);
    std::tm local{};
    localtime_r(&st.st_mtime, &local);
    EXPECT_EQ(local.tm_year + 1900, 2020);
    EXPECT_EQ(local.tm_mon, 5);
    EXPECT_EQ(local.tm_mday, 15);
    EXPECT_EQ(local.tm_hour, 12);
}

TEST_F(Extract, HostileNamesNeverWriteOutsideTheTarget) {
    std::string outside = dir.file("escaped.txt");
    makeZip(archive, {{"../escaped.txt", "evil"},
                      {"ok/../../escaped.txt", "evil"},
                      {outside, "evil"},
                      {"..\\escaped.txt", "evil"},
                      {"safe/..hidden", "fine"},
                      {"after.txt", "still extracted"}});
    DK_ExtractGameAtPath(archive.c_str());
    EXPECT_FALSE(dktest::exists(outside));
    EXPECT_EQ(dktest::readFile("safe/..hidden"), "fine") << "a name that merely starts with dots is fine";
    EXPECT_EQ(dktest::readFile("after.txt"), "still extracted");
}

TEST_F(Extract, DamagedArchives) {
    EXPECT_EQ(DK_ExtractGameAtPath(dir.file("none.zip").c_str()), 0);
    dktest::writeFile(archive, "PK\x03\x04 this is not really a zip file");
    EXPECT_EQ(DK_ExtractGameAtPath(archive.c_str()), 0);
    EXPECT_EQ(system("test -z \"$(ls -A)\""), 0) << "nothing was written";

    // Damaged data stops at the damaged entry: flip bytes in the second entry's compressed data.
    makeZip(archive, {{"first.txt", std::string(5000, 'a')}, {"second.txt", std::string(5000, 'b')}});
    std::string bytes = dktest::readFile(archive);
    size_t second = bytes.find("second.txt");
    ASSERT_NE(second, std::string::npos);
    for (size_t i = second + 12; i < second + 20; ++i) bytes[i] = static_cast<char>(~bytes[i]);
    dktest::writeFile(archive, bytes);
    DK_ExtractGameAtPath(archive.c_str());
    EXPECT_EQ(dktest::readFile("first.txt"), std::string(5000, 'a'));
    EXPECT_NE(dktest::readFile("second.txt"), std::string(5000, 'b'));
}

}  // namespace
