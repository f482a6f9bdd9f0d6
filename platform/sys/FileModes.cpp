#include "platform/sys/FileModes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat::sys {

bool createPrivateFile(const std::string& path) {
    // No O_TRUNC: a file already there keeps its content and its mode.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, kPrivateFileMode);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

void keepNewFilesPrivate() {
    const mode_t was = ::umask(077);  // never looser than asked while it is read
    ::umask(was | 077);
}

}  // namespace plat::sys
