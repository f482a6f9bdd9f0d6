// The bounded whole-file reader: what is no regular file is refused without waiting on it, a file
// over its kind's cap without reading it, and each refusal is one line naming the file and why.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/sys/WholeFile.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::sys::FileCap;
using plat::sys::ReadFailure;
using plat::sys::ReadProblem;

// A file of `size` bytes that takes no room (a hole), so a cap of a gigabyte costs nothing.
void writeSparse(const std::string& path, size_t size) {
    dktest::writeFile(path, "");
    std::filesystem::resize_file(path, size);
}

const FileCap kEveryCap[] = {plat::sys::kInputScriptCap,  plat::sys::kInfoPlistCap,
                             plat::sys::kPreferencesCap,  plat::sys::kKeychainCap,
                             plat::sys::kDeviceFactsCap,  plat::sys::kImageCap,
                             plat::sys::kPropertyListCap, plat::sys::kDataFileCap};

TEST(WholeFile, RefusesWhatIsNoFileOrOverItsCapAndReadsTheRest) {
    dktest::TempDir dir;
    const std::string fifo = dir.file("fifo"), zero = dir.file("zero"), folder = dir.path();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", zero);
    for (const FileCap& cap : kEveryCap) {
        SCOPED_TRACE(cap.kind);
        const std::string atCap = dir.file("at"), overCap = dir.file("over");
        writeSparse(atCap, cap.bytes);
        writeSparse(overCap, cap.bytes + 1);
        const struct {
            std::string path;
            ReadFailure failure;
            std::string message;
        } refused[] = {
            {fifo, ReadFailure::NotAFile, fifo + ": not a file (a FIFO)"},
            {zero, ReadFailure::NotAFile, zero + ": not a file (a character device)"},
            {folder, ReadFailure::Unreadable, folder + ": Is a directory"},
            {dir.file("missing"), ReadFailure::Missing, dir.file("missing") + ": No such file or directory"},
            {overCap, ReadFailure::TooLarge,
             overCap + ": over " + std::to_string(cap.bytes >> 20) + " MiB, the most " + cap.kind + " may hold"},
        };
        for (const auto& r : refused) {
            ReadProblem problem;
            EXPECT_FALSE(plat::sys::readWholeFile(r.path, cap, &problem)) << r.path;
            EXPECT_EQ(problem.failure, r.failure);
            EXPECT_EQ(problem.message, r.message);
            ReadProblem looked;
            EXPECT_EQ(plat::sys::isReadableFile(r.path, cap, &looked), r.failure == ReadFailure::Missing);
            if (r.failure != ReadFailure::Missing) {
                EXPECT_EQ(looked.message, r.message);
            }
        }
        EXPECT_TRUE(plat::sys::isReadableFile(atCap, cap));
        // Reading a gigabyte of holes proves nothing the small caps do not.
        if (cap.bytes <= 64 * plat::sys::kMiB) {
            const std::optional<std::string> whole = plat::sys::readWholeFile(atCap, cap);
            ASSERT_TRUE(whole);
            EXPECT_EQ(whole->size(), cap.bytes);
        }
    }
}

// Standard input may be a pipe, which has no size to look at first: it is cut off at the cap.
TEST(WholeFile, AStreamIsReadToItsEndWithinTheCap) {
    const FileCap cap{8, "a test stream"};
    for (const std::string text : {"", "12345678", "123456789"}) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        ASSERT_EQ(write(ends[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(ends[1]);
        ReadProblem problem;
        const std::optional<std::string> read = plat::sys::readWholeStream(ends[0], "<stdin>", cap, &problem);
        close(ends[0]);
        if (text.size() <= cap.bytes) {
            EXPECT_EQ(read, text);
        } else {
            EXPECT_FALSE(read);
            EXPECT_EQ(problem.message, "<stdin>: over 8 bytes, the most a test stream may hold");
        }
    }
}

// A quit signal's descriptor ends a wait on a writer that never writes nor closes.
TEST(WholeFile, AStreamsWaitEndsWhenItsStopDescriptorIsReadable) {
    int data[2], stop[2];
    ASSERT_EQ(pipe(data), 0);
    ASSERT_EQ(pipe(stop), 0);
    ASSERT_EQ(write(data[1], "partial", 7), 7);
    ASSERT_EQ(write(stop[1], "x", 1), 1);
    ReadProblem problem;
    EXPECT_FALSE(plat::sys::readWholeStream(data[0], "<stdin>", plat::sys::kInputScriptCap, &problem, stop[0]));
    EXPECT_EQ(problem.message, "<stdin>: stopped before its end");
    for (int fd : {data[0], data[1], stop[0], stop[1]}) close(fd);
}

}  // namespace
