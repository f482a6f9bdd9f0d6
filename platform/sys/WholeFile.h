// The one bounded whole-file reader, below every layer that reads a file whole. Each kind of file
// has a cap (docs/ARCHITECTURE.md lists them): a larger file is refused unread, and what is not a
// regular file (a FIFO, a device, a socket) is refused without waiting on it, since a FIFO blocks
// its opener for ever and /dev/zero never ends. Messages are one line naming the file and why.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace plat::sys {

// How much one kind of file may hold; `kind` names it in messages ("an Info.plist").
struct FileCap {
    size_t bytes;
    const char* kind;
};

inline constexpr size_t kMiB = size_t(1) << 20;
inline constexpr FileCap kInputScriptCap{16 * kMiB, "an input script"};
inline constexpr FileCap kInfoPlistCap{4 * kMiB, "an Info.plist"};
inline constexpr FileCap kPreferencesCap{64 * kMiB, "a preferences file"};
inline constexpr FileCap kKeychainCap{4 * kMiB, "a keychain"};
inline constexpr FileCap kDeviceFactsCap{1 * kMiB, "a device-facts file"};
// Images: a bundle's pictures, textures, the tweet sheet's picture.
inline constexpr FileCap kImageCap{64 * kMiB, "an image"};
// Every other property list the platform reads (service files, string tables, pasteboards).
inline constexpr FileCap kPropertyListCap{16 * kMiB, "a property list"};
// A game's data tables (CSV read whole; XML streamed, and so only looked at).
inline constexpr FileCap kTableCap{256 * kMiB, "a table"};
// Any other file read whole without a cap of its own (profiles, cache entries, pages, notes).
inline constexpr FileCap kDataFileCap{16 * kMiB, "a data file"};

enum class ReadFailure {
    None,
    Missing,     // nothing at the path
    NotAFile,    // a FIFO, a device, a socket (a directory is Unreadable, as open's EISDIR says)
    TooLarge,    // over the cap
    Unreadable,  // anything else open or read said
    Stopped,     // a stream's read ended by its stop descriptor (a quit signal)
};

struct ReadProblem {
    ReadFailure failure = ReadFailure::None;
    // One line, "PATH: why": "PATH: not a file (a FIFO)", "PATH: over 4 MiB, the most an
    // Info.plist may hold", "PATH: No such file or directory".
    std::string message;
};

// The regular file at `path`, whole, when it holds at most cap.bytes (a file growing while read
// is cut off at the cap and refused too). Nothing else is read; `problem` says why.
std::optional<std::string> readWholeFile(const std::string& path, const FileCap& cap,
                                         ReadProblem* problem = nullptr);

// Everything `fd` gives until its end, up to cap.bytes: for standard input, where a pipe or a
// terminal is the point; `name` names it in messages. Not closed. With `stopFd`, each wait for
// more also watches it: once it is readable (a signalfd of the quit signals) the read ends,
// Stopped, "NAME: stopped before its end".
std::optional<std::string> readWholeStream(int fd, const std::string& name, const FileCap& cap,
                                           ReadProblem* problem = nullptr, int stopFd = -1);

// For a file another library opens itself (SQLite): true when nothing is at `path` or a regular
// file within the cap is; false, with `problem`, for anything the reader above would refuse.
bool isReadableFile(const std::string& path, const FileCap& cap, ReadProblem* problem = nullptr);

// The regular file at `path` opened for reading ("rb"), for readers that go through a file in parts
// (a streaming parser, a decoder) and so need no cap; nullptr, with `problem`, for anything else,
// found without waiting on a FIFO.
std::FILE* openRegularFile(const std::string& path, ReadProblem* problem = nullptr);

// "a FIFO", "a character device", "a directory", ...: what the st_mode `mode` is.
const char* fileTypeName(unsigned mode);

}  // namespace plat::sys
