// The few file-system steps the bundle, the container and the defaults share.
#pragma once

#include "platform/foundation/Error.h"

#include <optional>
#include <string>

namespace plat::foundation {

// `path` made absolute against the working directory and lexically normal, without a trailing
// slash ("/" stays "/").
std::string absolutePath(const std::string& path);
// Makes `path` and its missing parents, each the user's alone (kPrivateDirectoryMode, however permissive
// the umask; folders already there are left as they are); false with an error naming the path that
// failed.
bool makeDirectories(const std::string& path, Error* error = nullptr);
bool isDirectory(const std::string& path);
// True when something (a file, a directory, anything) is at `path`, links followed.
bool pathExists(const std::string& path);

// Everything `fd` gives until its end (interrupted reads retried); false on a read error, with
// what came before it in `out`.
bool readAll(int fd, std::string& out);
// The file's bytes. Errors name the file: kFileReadNoSuchFileError when it is missing,
// kFileReadUnknownError when it cannot be read (a directory, no permission).
std::optional<std::string> readFile(const std::string& path, Error* error = nullptr);

}  // namespace plat::foundation
