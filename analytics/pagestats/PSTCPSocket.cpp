#include "analytics/pagestats/PSTCPSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/foundation/Queue.h"
#include "platform/net/Servers.h"

using plat::foundation::RunLoop;

namespace {

struct AddressList {
    addrinfo* list = nullptr;
    ~AddressList() {
        if (list) freeaddrinfo(list);
    }
};

int lookUp(const std::string& host, int port, bool numericOnly, AddressList& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numericOnly ? AI_NUMERICHOST : 0);
    std::string name = host;
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    return getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &out.list);
}

}  // namespace

std::shared_ptr<PSTCPSocket> PSTCPSocket::create(PSSocketDelegate& delegate, RunLoop& loop) {
    return std::shared_ptr<PSTCPSocket>(new PSTCPSocket(delegate, loop));
}

void PSTCPSocket::connect(const std::string& host, int port) {
    // Names under .invalid never resolve (RFC 6761): such a collector (the built-in placeholder)
    // fails on the next turn, with nothing held on the loop's clock.
    if (plat::net::isPlaceholderHost(host)) {
        failLater();
        return;
    }
    AddressList numeric;
    if (lookUp(host, port, true, numeric) == 0) {
        connectTo(numeric.list);
        return;
    }
    // A name is resolved on the worker pool (which a virtual clock waits for); the answer comes
    // back to the loop.
    std::weak_ptr<PSTCPSocket> weak = weak_from_this();
    RunLoop* loop = &m_loop;
    plat::foundation::Queue::global().async([weak, loop, host, port] {
        auto addresses = std::make_shared<AddressList>();
        const bool found = lookUp(host, port, false, *addresses) == 0;
        loop->perform([weak, addresses, found] {
            std::shared_ptr<PSTCPSocket> self = weak.lock();
            if (!self || self->m_closed) return;
            if (found)
                self->connectTo(addresses->list);
            else
                self->failLater();
        });
    });
}

void PSTCPSocket::connectTo(const addrinfo* addresses) {
    for (const addrinfo* at = addresses; at; at = at->ai_next) {
        int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, at->ai_addr, at->ai_addrlen) == 0 || errno == EINPROGRESS) {
            m_fd = fd;
            m_work = m_loop.clock().beginWork(plat::foundation::WorkKind::Transfer);
            std::weak_ptr<PSTCPSocket> weak = weak_from_this();
            m_source = m_loop.addFdSource(m_fd, plat::foundation::kFdWrite, [weak](unsigned events) {
                if (std::shared_ptr<PSTCPSocket> self = weak.lock()) self->handle(events);
            });
            return;
        }
        ::close(fd);
    }
    failLater();
}

void PSTCPSocket::failLater() {
    std::weak_ptr<PSTCPSocket> weak = weak_from_this();
    m_loop.perform([weak] {
        std::shared_ptr<PSTCPSocket> self = weak.lock();
        if (!self || self->m_closed) return;
        self->close();
        self->m_delegate->socketConnectDidFail(*self);
    });
}

void PSTCPSocket::handle(unsigned events) {
    if (m_closed) return;
    if (!m_connected) {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
        if (error != 0 || (events & plat::foundation::kFdError)) {
            close();
            m_delegate->socketConnectDidFail(*this);
            return;
        }
        m_connected = true;
        watch();
        m_delegate->socketConnectDidSucceed(*this);
        return;
    }
    if ((events & plat::foundation::kFdWrite) && !m_unsent.empty() && !flush()) {
        m_failed = true;
        m_delegate->socketBecameReadable(*this);
        return;
    }
    watch();
    if (events & (plat::foundation::kFdRead | plat::foundation::kFdError)) m_delegate->socketBecameReadable(*this);
}

void PSTCPSocket::watch() {
    if (m_closed) return;
    m_source.setEvents(plat::foundation::kFdRead | (m_unsent.empty() ? 0 : plat::foundation::kFdWrite));
}

// Writes what the connection takes now; false on a failed connection.
bool PSTCPSocket::flush() {
    while (!m_unsent.empty()) {
        ssize_t n = ::send(m_fd, m_unsent.data(), m_unsent.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        m_unsent.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

long PSTCPSocket::send(const char* data, std::size_t length) {
    if (m_closed || m_failed || !m_connected) return -1;
    m_unsent.append(data, length);
    if (!flush()) {
        m_failed = true;
        return -1;
    }
    watch();
    return static_cast<long>(length);
}

long PSTCPSocket::read(char* data, std::size_t length) {
    if (m_closed || m_failed) return -1;
    while (true) {
        ssize_t n = ::recv(m_fd, data, length, 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? kNothingYet : -1;
    }
}

void PSTCPSocket::close() {
    m_closed = true;
    m_source.remove();
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_unsent.clear();
    m_work.end();
}
