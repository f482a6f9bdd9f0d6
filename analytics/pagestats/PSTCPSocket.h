// The dispatcher's connection: a plain non-blocking TCP socket watched by a run loop, and the
// interface a test's socket factory replaces it with.
//
// The name is resolved on the worker pool unless numeric; the first writable event is the
// connection (SO_ERROR checked); the open connection is a WorkKind::Transfer on the loop's clock,
// so a virtual clock waits for it as for a URL load. What a write leaves goes on the next writable
// event.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

class PSSocket;

class PSSocketDelegate {
public:
    virtual ~PSSocketDelegate() = default;
    // Bytes, the end of the stream or an error are there to read.
    virtual void socketBecameReadable(PSSocket& socket) = 0;
    virtual void socketConnectDidFail(PSSocket& socket) = 0;
    virtual void socketConnectDidSucceed(PSSocket& socket) = 0;
};

class PSSocket {
public:
    // read(): no bytes yet, the connection is still open.
    static constexpr long kNothingYet = -2;

    virtual ~PSSocket() = default;
    // Reports to the delegate on a later turn of the loop, never from inside this call.
    virtual void connect(const std::string& host, int port) = 0;
    // Takes all of `data` (what the connection does not accept now goes on the next writable
    // events); -1 when the connection failed.
    virtual long send(const char* data, std::size_t length) = 0;
    // Bytes read; 0 at the end of the stream; -1 on an error; kNothingYet.
    virtual long read(char* data, std::size_t length) = 0;
    virtual void close() = 0;
};

class PSTCPSocket : public PSSocket, public std::enable_shared_from_this<PSTCPSocket> {
public:
    // Made shared: the loop's calls keep it alive while they run. Reports on `loop`.
    static std::shared_ptr<PSTCPSocket> create(PSSocketDelegate& delegate,
                                               plat::foundation::RunLoop& loop = plat::foundation::RunLoop::current());
    ~PSTCPSocket() override { close(); }

    void connect(const std::string& host, int port) override;
    long send(const char* data, std::size_t length) override;
    long read(char* data, std::size_t length) override;
    void close() override;

private:
    PSTCPSocket(PSSocketDelegate& delegate, plat::foundation::RunLoop& loop) : m_delegate(&delegate), m_loop(loop) {}
    void connectTo(const struct addrinfo* addresses);
    void failLater();
    void handle(unsigned events);
    bool flush();
    void watch();

    PSSocketDelegate* m_delegate;
    plat::foundation::RunLoop& m_loop;
    int m_fd = -1;
    bool m_connected = false;
    bool m_failed = false;
    bool m_closed = false;
    std::string m_unsent;
    plat::foundation::FdSource m_source;
    // An open connection is work a virtual clock waits for, as a URL load is.
    plat::foundation::WorkInFlight m_work;
};
