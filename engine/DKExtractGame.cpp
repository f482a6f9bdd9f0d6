#include <minizip/unzip.h>
#include <sys/stat.h>
#include <utime.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "engine/DKEngine.h"

namespace {

constexpr size_t kChunk = 8192;

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

// Returns false when the extraction must stop.
bool extractCurrentEntry(unzFile zip, const std::string& name, const unz_file_info& info) {
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
        if (n < 0 || (n > 0 && std::fwrite(buffer.data(), 1, static_cast<size_t>(n), out) != size_t(n))) {
            ok = false;
            break;
        }
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
        } else if (!extractCurrentEntry(zip, name, info)) {
            break;
        }

        if (i + 1 < global.number_entry && unzGoToNextFile(zip) != UNZ_OK) break;
    }
    unzClose(zip);
    return 0;
}
