#include "platform/util/InputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace plat::util {

bool FileInputStream::open() {
    if (m_borrowed) return m_fd >= 0;
    close();
    do {
        m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
    return m_fd >= 0;
}

long FileInputStream::read(std::uint8_t* buffer, std::size_t size) {
    if (m_fd < 0) return -1;
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) return -1;
    }
}

void FileInputStream::close() {
    if (!m_borrowed && m_fd >= 0) ::close(m_fd);
    if (!m_borrowed) m_fd = -1;
}

}  // namespace plat::util
