#include <minizip/unzip.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <ctime>
#include <string>
#include <vector>

#include "engine/DKEngine.h"

namespace {

constexpr size_t kChunk = 8192;

// What an archive may unpack to. A game's archive is mostly pictures and sounds, which hardly
// compress, and scripts and tables, which compress some ten times: it unpacks to a few times its
// size. A hundred times leaves ample room, and a small archive may always unpack to 32 MB (a
// level of blank tables, say); nothing unpacks past 2 GB, the most a phone's application could
// hold. Past these it is a decompression bomb (1 MB of zeros unpacks to 1 GB in seconds).
constexpr uint64_t kMaxRatio = 100;
constexpr uint64_t kAlwaysAllowed = 32ull << 20;
constexpr uint64_t kMaxTotal = 2ull << 30;

uint64_t allowedFor(const char* archivePath) {
    struct stat st;
    const uint64_t size = stat(archivePath, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return std::min(kMaxTotal, std::max(kAlwaysAllowed, kMaxRatio * size));
}

// The sizes the archive's directory gives its entries, added up; nothing when it cannot be read
// through (the extraction then stops where the reading fails, as it always has).
std::optional<uint64_t> claimedSize(unzFile zip) {
    uint64_t total = 0;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        unz_file_info info{};
        if (unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return std::nullopt;
        total += info.uncompressed_size;
    }
    return total;
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// Entries are unpacked under the current directory only: no absolute names, no ".." component.
bool isSafeEntryName(const std::string& name) {
    if (name.empty() || isSeparator(name[0])) return false;
    if (name.find('\0') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !isSeparator(name[end])) ++end;
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
        start = end + 1;
    }
    return true;
}

void makeParentDirectories(const std::string& name) {
    for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1)) {
        if (pos == 0) continue;
        std::string level = name.substr(0, pos);
        if (mkdir(level.c_str(), 0775) != 0 && errno == ENOENT) break;
    }
}

void setFileTime(const std::string& name, const tm_unz& date) {
    std::tm t{};
    t.tm_sec = static_cast<int>(date.tm_sec);
    t.tm_min = static_cast<int>(date.tm_min);
    t.tm_hour = static_cast<int>(date.tm_hour);
    t.tm_mday = static_cast<int>(date.tm_mday);
    t.tm_mon = static_cast<int>(date.tm_mon);
    t.tm_year = static_cast<int>(date.tm_year > 1900 ? date.tm_year - 1900 : date.tm_year);
    t.tm_isdst = -1;
    std::time_t when = std::mktime(&t);
    if (when == static_cast<std::time_t>(-1)) return;
    utimbuf times{when, when};
    utime(name.c_str(), &times);
}

// Returns false when the extraction must stop. `left` is what the archive may still unpack to:
// the directory's sizes were within it, and minizip reads no further than they say, so this only
// holds if that ever changes.
bool extractCurrentEntry(unzFile zip, const std::string& name, const unz_file_info& info, uint64_t& left,
                         const char* archivePath) {
    if (unzOpenCurrentFilePassword(zip, nullptr) != UNZ_OK) return false;

    FILE* out = std::fopen(name.c_str(), "wb");
    if (!out && name.find('/') != std::string::npos) {
        makeParentDirectories(name);
        out = std::fopen(name.c_str(), "wb");
    }
    if (!out) {
        std::fprintf(stderr, "DK_ExtractGameAtPath: cannot write %s\n", name.c_str());
        unzCloseCurrentFile(zip);
        return true;
    }

    std::vector<char> buffer(kChunk);
    bool ok = true;
    for (;;) {
        int n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n > 0 && static_cast<uint64_t>(n) > left) {
            std::fprintf(stderr, "DK_ExtractGameAtPath: %s unpacks past what its directory says; stopped at %s\n",
                         archivePath, name.c_str());
            std::fclose(out);
            std::remove(name.c_str());
            unzCloseCurrentFile(zip);
            return false;
        }
        if (n < 0 || (n > 0 && std::fwrite(buffer.data(), 1, static_cast<size_t>(n), out) != size_t(n))) {
            ok = false;
            break;
        }
        left -= static_cast<uint64_t>(n > 0 ? n : 0);
        if (n == 0) break;
    }
    std::fclose(out);
    if (!ok) {
        unzCloseCurrentFile(zip);
        return false;
    }
    setFileTime(name, info.tmu_date);
    return unzCloseCurrentFile(zip) == UNZ_OK;
}

}  // namespace

extern "C" int DK_ExtractGameAtPath(const char* archivePath) {
    unzFile zip = archivePath ? unzOpen(archivePath) : nullptr;
    if (!zip) return 0;

    unz_global_info global{};
    if (unzGetGlobalInfo(zip, &global) != UNZ_OK || global.number_entry == 0) {
        unzClose(zip);
        return 0;
    }

    const uint64_t allowed = allowedFor(archivePath);
    std::optional<uint64_t> claimed = claimedSize(zip);
    unzGoToFirstFile(zip);
    if (claimed && *claimed > allowed) {
        std::fprintf(stderr,
                     "DK_ExtractGameAtPath: %s would unpack to %llu bytes, more than the %llu it may (%llu times its "
                     "size, at least %llu MB, at most %llu MB): nothing extracted\n",
                     archivePath, static_cast<unsigned long long>(*claimed), static_cast<unsigned long long>(allowed),
                     static_cast<unsigned long long>(kMaxRatio), static_cast<unsigned long long>(kAlwaysAllowed >> 20),
                     static_cast<unsigned long long>(kMaxTotal >> 20));
        unzClose(zip);
        return 0;
    }
    uint64_t left = allowed;

    for (uLong i = 0; i < global.number_entry; ++i) {
        unz_file_info info{};
        if (unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        // Names of any length, read whole.
        std::string name(info.size_filename, '\0');
        if (unzGetCurrentFileInfo(zip, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0,
                                  nullptr, 0) != UNZ_OK)
            break;

        if (!isSafeEntryName(name)) {
            std::fprintf(stderr, "DK_ExtractGameAtPath: skipping unsafe entry %s\n", name.c_str());
        } else if (isSeparator(name.back())) {
            mkdir(name.c_str(), 0775);
        } else if (!extractCurrentEntry(zip, name, info, left, archivePath)) {
            break;
        }

        if (i + 1 < global.number_entry && unzGoToNextFile(zip) != UNZ_OK) break;
    }
    unzClose(zip);
    return 0;
}
