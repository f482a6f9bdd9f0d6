// Game archives unpacked into the current directory.
#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/DKEngine.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

// Entries dated 15 June 2020; the name "cut\1..." gets a NUL byte in place of the \1.
void makeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const auto& [name, data] : entries) {
        zip_fileinfo info{};
        info.tmz_date = {0, 0, 12, 15, 5, 2020};
        ASSERT_EQ(
            zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6),
            ZIP_OK);
        zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
    std::string bytes = readFile(path);
    for (size_t at = bytes.find("cut\1"); at != std::string::npos; at = bytes.find("cut\1", at))
        bytes[at + 3] = '\0';
    writeFile(path, bytes);
}

// Extraction works on the current directory: each test runs inside a fresh one.
class Extract : public testing::Test {
protected:
    void SetUp() override {
        m_previous = std::filesystem::current_path();
        std::filesystem::create_directory(m_dir.file("out"));
        std::filesystem::current_path(m_dir.file("out"));
    }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    TempDir m_dir;
    std::filesystem::path m_previous;
    std::string m_zip = m_dir.file("game.zip");
};

TEST_F(Extract, FilesAndDirectoriesWithLongNamesWholeAndTheirDates) {
    ASSERT_EQ(system("mkdir -p a/b && echo old-and-longer > a/b/c.txt"), 0);
    const std::string big(100000, 'z');
    const std::string longName = std::string(200, 'd') + "/" + std::string(200, 'f') + ".txt";
    makeZip(m_zip,
            {{"dir/", ""}, {"dir/sub/", ""}, {"a/b/c.txt", "new"}, {"x/y/big.bin", big}, {longName, "long"}});
    EXPECT_EQ(DK_ExtractGameAtPath(m_zip.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory("dir/sub"));
    EXPECT_EQ(readFile("a/b/c.txt"), "new");
    EXPECT_EQ(readFile("x/y/big.bin"), big);
    EXPECT_EQ(readFile(longName), "long");
    struct stat st;
    ASSERT_EQ(stat("a/b/c.txt", &st), 0);
    std::tm june{0, 0, 12, 15, 5, 120, 0, 0, -1, 0, nullptr};  // local time, as the archive's
    EXPECT_EQ(st.st_mtime, std::mktime(&june));
}

TEST_F(Extract, HostileNamesNeverWriteOutsideTheTarget) {
    const std::string outside = m_dir.file("escaped.txt");
    makeZip(m_zip, {{"../escaped.txt", "evil"},
                    {"ok/../../escaped.txt", "evil"},
                    {outside, "evil"},
                    {"..\\escaped.txt", "evil"},
                    {"cut\1x", "evil"},
                    {"safe/..hidden", "fine"}});
    DK_ExtractGameAtPath(m_zip.c_str());
    EXPECT_FALSE(exists(outside));
    EXPECT_FALSE(exists("cut"));  // the name is not cut at its NUL
    EXPECT_EQ(readFile("safe/..hidden"), "fine") << "a name that merely starts with dots is fine";
}

TEST_F(Extract, DamagedArchives) {
    EXPECT_EQ(DK_ExtractGameAtPath(m_dir.file("none.zip").c_str()), 0);
    writeFile(m_zip, "PK\x03\x04 this is not really a zip file");
    EXPECT_EQ(DK_ExtractGameAtPath(m_zip.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_empty("."));

    // Damaged data stops at the damaged entry: flip bytes in the second entry's compressed data.
    makeZip(m_zip, {{"first.txt", std::string(5000, 'a')}, {"second.txt", std::string(5000, 'b')}});
    std::string bytes = readFile(m_zip);
    const size_t second = bytes.find("second.txt");
    for (size_t i = second + 12; i < second + 20; ++i) bytes[i] = static_cast<char>(~bytes[i]);
    writeFile(m_zip, bytes);
    DK_ExtractGameAtPath(m_zip.c_str());
    EXPECT_EQ(readFile("first.txt"), std::string(5000, 'a'));
    EXPECT_NE(readFile("second.txt"), std::string(5000, 'b'));
}

}  // namespace
}  // namespace dktest
