#include "platform/net/tests/NetTestSupport.h"

#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "tests/support/TestSupport.h"

namespace dktest {

namespace {

constexpr auto kPatience = std::chrono::seconds(30);

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

// Reads and writes a connection, plain or through TLS.
struct Stream {
    int fd;
    SSL* ssl = nullptr;
    ~Stream() {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
    }
    long read(char* buffer, std::size_t size) {
        if (ssl) return SSL_read(ssl, buffer, static_cast<int>(size));
        return ::recv(fd, buffer, size, 0);
    }
    bool write(const std::string& data) {
        std::size_t at = 0;
        while (at < data.size()) {
            long n = ssl ? SSL_write(ssl, data.data() + at, static_cast<int>(data.size() - at))
                         : ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }
};

bool readRequest(Stream& stream, ReceivedRequest& request) {
    std::string data;
    char buffer[4096];
    std::size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
        long n = stream.read(buffer, sizeof buffer);
        if (n <= 0) return false;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t lineEnd = data.find("\r\n");
    std::string line = data.substr(0, lineEnd);
    std::size_t space1 = line.find(' '), space2 = line.rfind(' ');
    request.method = line.substr(0, space1);
    request.target = line.substr(space1 + 1, space2 - space1 - 1);
    for (std::size_t at = lineEnd + 2; at < end;) {
        std::size_t next = data.find("\r\n", at);
        std::string field = data.substr(at, next - at);
        std::size_t colon = field.find(':');
        std::size_t value = field.find_first_not_of(' ', colon + 1);
        request.headers.emplace_back(field.substr(0, colon), value == std::string::npos ? "" : field.substr(value));
        at = next + 2;
    }
    request.body = data.substr(end + 4);
    const std::string* length = request.header("Content-Length");
    std::size_t wanted = length ? std::strtoul(length->c_str(), nullptr, 10) : 0;
    while (request.body.size() < wanted) {
        long n = stream.read(buffer, sizeof buffer);
        if (n <= 0) return false;
        request.body.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

TlsIdentity TlsIdentity::selfSigned() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    for (auto [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"}, std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    X509_sign(certificate, key, EVP_sha256());

    TlsIdentity identity;
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    identity.certificatePem = bioText(bio);
    BIO_free(bio);
    bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    identity.keyPem = bioText(bio);
    BIO_free(bio);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return identity;
}

TestServer::TestServer(Handler handler, const TlsIdentity* tls) : m_handler(std::move(handler)) {
    if (tls) {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        BIO* bio = BIO_new_mem_buf(tls->certificatePem.data(), static_cast<int>(tls->certificatePem.size()));
        X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        bio = BIO_new_mem_buf(tls->keyPem.data(), static_cast<int>(tls->keyPem.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        SSL_CTX_use_certificate(context, certificate);
        SSL_CTX_use_PrivateKey(context, key);
        X509_free(certificate);
        EVP_PKEY_free(key);
        m_tls = std::shared_ptr<void>(context, [](void* c) { SSL_CTX_free(static_cast<SSL_CTX*>(c)); });
    }
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(m_listenFd, 64) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        std::abort();
    m_port = ntohs(address.sin_port);
    m_stopFd = eventfd(0, EFD_CLOEXEC);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (int fd : m_clients) shutdown(fd, SHUT_RDWR);
    }
    m_changed.notify_all();
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(m_stopFd, &one, sizeof one);
    m_acceptor.join();
    for (std::thread& t : m_threads) t.join();
    close(m_listenFd);
    close(m_stopFd);
}

std::string TestServer::url(const std::string& path) const {
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<ReceivedRequest> TestServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool TestServer::waitForRequests(std::size_t count) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kPatience, [&] { return m_requests.size() >= count; });
}

bool TestServer::waitForReplies(std::size_t count) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, kPatience, [&] { return m_replies >= count; });
}

void TestServer::release() {
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
}

void TestServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(m_mutex);
        m_clients.push_back(fd);
        m_threads.emplace_back([this, fd] { serve(fd); });
    }
}

void TestServer::serve(int fd) {
    {
        Stream stream{fd};
        bool ok = true;
        if (m_tls) {
            stream.ssl = SSL_new(static_cast<SSL_CTX*>(m_tls.get()));
            SSL_set_fd(stream.ssl, fd);
            ok = SSL_accept(stream.ssl) == 1;
        }
        ReceivedRequest request;
        if (ok && readRequest(stream, request)) {
            Reply reply = m_handler(request);
            {
                std::unique_lock lock(m_mutex);
                m_requests.push_back(request);
                m_changed.notify_all();
                if (reply.held) m_changed.wait(lock, [&] { return m_released || m_stopping; });
                ok = !m_stopping;
            }
            if (ok) {
                std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Reply\r\n";
                for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
                if (!plat::net::findHeader(reply.headers, "Content-Length"))
                    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
                head += "Connection: close\r\n\r\n";
                stream.write(head + reply.body);
                std::lock_guard lock(m_mutex);
                ++m_replies;
                m_changed.notify_all();
            }
        }
    }
    std::lock_guard lock(m_mutex);
    std::erase(m_clients, fd);
    close(fd);
}

std::string refusedURL() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);  // bound, never listening: refused (and nothing else binds it meanwhile, as a rule)
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
}

namespace {

bool runIp(std::vector<std::string> args) {
    std::string tool = "ip";
    for (const char* place : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(place, X_OK) == 0) tool = place;
    args.insert(args.begin(), tool);
    const ProcessResult result = runProcess(args);
    if (result.status != 0) std::fprintf(stderr, "ip: %s", result.err.c_str());
    return result.status == 0;
}

}  // namespace

NetworkNamespace::NetworkNamespace() {
    static int made = 0;
    m_name = "dknet" + std::to_string(getpid()) + "-" + std::to_string(++made);
    m_made = geteuid() == 0 && runIp({"netns", "add", m_name});
}

NetworkNamespace::~NetworkNamespace() {
    if (m_made) runIp({"netns", "del", m_name});
}

bool NetworkNamespace::ip(std::vector<std::string> args) const {
    args.insert(args.begin(), {"-n", m_name});
    return runIp(args);
}

bool runUntil(plat::foundation::RunLoop& loop, const std::function<bool()>& done) {
    double start = plat::foundation::Clock::monotonicSeconds();
    while (!done()) {
        if (plat::foundation::Clock::monotonicSeconds() - start > 30) return false;
        loop.runOnce(0.05);
    }
    return true;
}

bool turnWithClockStillUntil(plat::foundation::RunLoop& loop, const std::function<bool()>& done) {
    const double start = plat::foundation::Clock::monotonicSeconds();
    while (!done()) {
        if (plat::foundation::Clock::monotonicSeconds() - start > 30) return false;
        loop.runOnce(0);  // a limit of 0: the clock stays where it is
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the condition is not the loop's
    }
    return true;
}

}  // namespace dktest
