// An HTTP(S) server on 127.0.0.1 that records what it receives and answers as the test says.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/URLLoading.h"

namespace plat::foundation {
class RunLoop;
}

namespace dktest {

struct ReceivedRequest {
    std::string method;
    std::string target;  // the path and query as sent
    plat::net::Headers headers;
    std::string body;
    const std::string* header(std::string_view name) const { return plat::net::findHeader(headers, name); }
};

struct Reply {
    int status = 200;
    plat::net::Headers headers;
    std::string body;
    bool held = false;  // sent only after release(); never, when the server stops first
};

// A self-signed certificate for 127.0.0.1 and its key, both PEM.
struct TlsIdentity {
    std::string certificatePem;
    std::string keyPem;
    static TlsIdentity selfSigned();
};

class TestServer {
public:
    using Handler = std::function<Reply(const ReceivedRequest&)>;
    explicit TestServer(Handler handler, const TlsIdentity* tls = nullptr);
    // Closes every connection (held replies are never sent) and joins its threads.
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    std::string url(const std::string& path) const;
    std::vector<ReceivedRequest> requests() const;
    // Wait for that many requests, or replies written; false after 30 s (a broken test, not a hang).
    bool waitForRequests(std::size_t count) const;
    bool waitForReplies(std::size_t count) const;
    void release();

private:
    void acceptLoop();
    void serve(int fd);

    Handler m_handler;
    std::shared_ptr<void> m_tls;  // SSL_CTX
    int m_listenFd = -1;
    int m_stopFd = -1;
    int m_port = 0;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<ReceivedRequest> m_requests;
    std::size_t m_replies = 0;
    bool m_released = false;
    bool m_stopping = false;
    std::vector<int> m_clients;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};

// An address on 127.0.0.1 where nothing listens: connecting is refused.
std::string refusedURL();

// A network namespace of its own while the object lives, for what must meet a real kernel's
// interfaces and routes; made() is false where one cannot be made (not root, no `ip`).
class NetworkNamespace {
public:
    NetworkNamespace();
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;
    bool made() const { return m_made; }
    const std::string& name() const { return m_name; }
    // `ip -n NAME ARGS...`; true when it succeeded.
    bool ip(std::vector<std::string> args) const;

private:
    std::string m_name;
    bool m_made = false;
};

// Turns `loop` until `done()`; false after 30 s of real time.
bool runUntil(plat::foundation::RunLoop& loop, const std::function<bool()>& done);

// Turns `loop` without letting it move a virtual clock until `done()`, which another thread makes
// true (a server seeing a request); false after 30 s of real time.
bool turnWithClockStillUntil(plat::foundation::RunLoop& loop, const std::function<bool()>& done);

}  // namespace dktest
