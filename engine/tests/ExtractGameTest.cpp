// Game archives unpacked into the current directory. The archives in data/ have their entries
// dated 15 June 2020, 12:00.
#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/DKEngine.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

// An entry of an archive the test makes: `size` bytes of `fill` (random bytes when 0), deflated
// or stored, and the size its headers claim when that is to be forged.
struct Entry {
    std::string name;
    size_t size;
    char fill;
    bool deflated = true;
    uint32_t claimed = 0;
};

void writeArchive(const std::string& path, const std::vector<Entry>& entries) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_TRUE(zip);
    std::mt19937 random(7);
    for (const Entry& e : entries) {
        zip_fileinfo info{};
        ASSERT_EQ(zipOpenNewFileInZip(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                      e.deflated ? Z_DEFLATED : 0, e.deflated ? 9 : 0),
                  ZIP_OK);
        std::string chunk(1 << 20, e.fill);
        for (size_t left = e.size; left > 0;) {
            const size_t n = std::min(left, chunk.size());
            if (!e.fill)
                for (char& c : chunk) c = static_cast<char>(random());
            ASSERT_EQ(zipWriteInFileInZip(zip, chunk.data(), static_cast<unsigned>(n)), ZIP_OK);
            left -= n;
        }
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
    // A claim is forged in the central directory, where the sizes are read from.
    std::string bytes = readFile(path);
    for (const Entry& e : entries) {
        if (!e.claimed) continue;
        const size_t header = bytes.find("PK\x01\x02", bytes.rfind(e.name) - 46);
        ASSERT_NE(header, std::string::npos);
        std::memcpy(&bytes[header + 24], &e.claimed, 4);  // little-endian, as the format
    }
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

// An archive that unpacks to far more than a game could be is refused before anything is written,
// with one line naming it: past 100 times the archive's size (beyond the first 32 MB), or past
// 2 GB in all, whatever its headers say. A small archive of very compressible data, under 32 MB
// unpacked, is a game like any other.
TEST_F(Extract, ArchivesThatUnpackPastTheirCapsAreRefused) {
    const std::string zip = m_dir.file("game.zip");
    const std::vector<Entry> bomb = {{"first.txt", 100, 'a'}, {"zeros.bin", 48u << 20, '\0' + 1}};
    const std::vector<Entry> huge = {{"first.txt", 100, 'a'},
                                     {"art.bin", 32u << 20, 0, false},
                                     {"claims.bin", 1000, 'z', true, 0x90000000u}};
    const std::vector<Entry> dense = {{"first.txt", 100, 'a'}, {"level.bin", 24u << 20, 'l'}};
    const struct {
        const char* label;
        const std::vector<Entry>& entries;
        bool refused;
    } cases[] = {{"1000 to 1", bomb, true}, {"over 2 GB claimed", huge, true}, {"under 32 MB", dense, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        writeArchive(zip, c.entries);
        testing::internal::CaptureStderr();
        EXPECT_EQ(DK_ExtractGameAtPath(zip.c_str()), 0);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(exists("first.txt"), !c.refused);
        if (c.refused) {
            EXPECT_TRUE(std::filesystem::is_empty("."));
            EXPECT_NE(err.find("DK_ExtractGameAtPath: " + zip), std::string::npos) << err;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        } else {
            EXPECT_EQ(std::filesystem::file_size("level.bin"), 24u << 20);
            EXPECT_EQ(err, "");
        }
        for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(entry);
    }
}

}  // namespace
}  // namespace dktest
