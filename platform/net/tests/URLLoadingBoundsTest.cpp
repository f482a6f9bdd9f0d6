// URL loading against a hostile server: every load ends, in bounded memory and time, whatever the
// server sends; a cut or misframed answer is never handed out as a success; a failure carries the
// code of what happened; and a load that fails before reaching curl wakes a loop turned once per
// input.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/foundation/RunLoop.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLLoading.h"
#include "platform/net/tests/NetTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::net;
using plat::foundation::RunLoop;

struct Outcome {
    int status = 0;
    std::size_t bytes = 0;
    std::string body;
    bool finished = false;
    std::optional<Error> error;
    bool done() const { return finished || error.has_value(); }
};

// Runs one load on this thread's loop until it ends (a generous cap: a broken test, not a hang).
Outcome run(const Request& request) {
    auto outcome = std::make_shared<Outcome>();
    ConnectionHandlers h;
    h.didReceiveResponse = [outcome](const Response& r) { outcome->status = r.status; };
    h.didReceiveData = [outcome](const std::uint8_t* data, std::size_t size) {
        outcome->bytes += size;
        if (outcome->body.size() < 4096) outcome->body.append(reinterpret_cast<const char*>(data), size);
    };
    h.didFinish = [outcome] { outcome->finished = true; };
    h.didFail = [outcome](const Error& e) { outcome->error = e; };
    Connection connection = Connection::start(request, std::move(h));
    EXPECT_TRUE(dktest::runUntil(RunLoop::current(), [&] { return outcome->done(); }));
    return *outcome;
}

struct Attack {
    const char* name;
    const char* answer;  // the hostile server's answer script
    std::size_t maxBodyLength;
    bool ignoresBody;
    double deadline;
    int failure;  // 0: the load finishes
};

// Each attack costs the loading process less than the bound over what it held before, and ends
// the load as said: past the body's bound, at the deadline, or read to its end when ignored.
TEST(URLLoadingBounds, HostileAnswersEndWithinMemoryAndDeadline) {
    const Attack attacks[] = {
        {"gzip of a gigabyte of zeros", R"({"attack": "gzip-zeros"})", 1 << 20, false, 300,
         kURLErrorDataLengthExceedsMaximum},
        {"gzip, default bound", R"({"attack": "gzip-zeros"})", kDefaultMaxBodyLength, false, 300,
         kURLErrorDataLengthExceedsMaximum},
        {"gzip, body ignored", R"({"attack": "gzip-zeros", "size": 67108864})", 1 << 20, true, 300, 0},
        {"600 MB body", R"({"attack": "big-body"})", 1 << 20, false, 300, kURLErrorDataLengthExceedsMaximum},
        {"endless header line", R"({"attack": "endless-header"})", 1 << 20, false, 300,
         kURLErrorBadServerResponse},
        {"a byte each half second", R"({"attack": "trickle"})", 1 << 20, false, 2, kURLErrorTimedOut},
    };
    dktest::TempDir dir;
    for (const Attack& a : attacks) {
        SCOPED_TRACE(a.name);
        dktest::HostileServer server(dir.file(a.name), a.answer);
        ASSERT_TRUE(server.running());
        Request request;
        request.url = server.url() + "/";
        request.maxBodyLength = a.maxBodyLength;
        request.ignoresBody = a.ignoresBody;
        request.deadline = a.deadline;
        const long before = dktest::peakResidentKb();
        Outcome outcome = run(request);
        // The default bound is half the memory bound: under a sanitizer's quarantine its freed
        // chunks would count twice, so only the explicit bounds are held to it.
        if (a.maxBodyLength < kDefaultMaxBodyLength) {
            EXPECT_LT(dktest::peakResidentKb() - before, dktest::kAttackMemoryBoundKb);
        }
        if (a.failure == 0) {
            EXPECT_TRUE(outcome.finished);
            EXPECT_EQ(outcome.status, 200);
            EXPECT_EQ(outcome.bytes, 0u);
            continue;
        }
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->code, a.failure);
        EXPECT_EQ(outcome.error->message, describeURLError(a.failure));
        EXPECT_LE(outcome.bytes, a.maxBodyLength);
    }
}

// `text` packed by zlib: with a gzip wrapper (31), a zlib one (15) or none (-15).
std::string packed(const std::string& text, int windowBits) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        out += pair;
    }
    return out;
}

// The recording server's answer: `head` (fields, raw unless a status is given), the body's bytes,
// the connection closed after it.
std::string answer(const std::string& fields, const std::string& body,
                   const std::string& status = "HTTP/1.1 200 OK") {
    return R"({"status": ")" + status + R"(", "raw": true, "close": true, "headers": [)" + fields +
           R"(], "body_hex": ")" + hex(body) + R"("})";
}

// The same, a byte at a time.
std::string trickled(const std::string& fields, const std::string& body) {
    std::string script = answer(fields, body);
    return script.substr(0, script.size() - 1) + R"(, "pause": 0.001})";
}

// Framing that would hand out a cut or misread body as a success fails the load as a bad server
// response; honest framing of the same bodies (two equal lengths, a whole gzip or raw deflate
// stream) still arrives whole. An inner coding's output counts against the body's bound too.
TEST(URLLoadingBounds, CutOrMisframedAnswersFailAsBadServerResponses) {
    const std::string text(3000, 'q');
    constexpr std::size_t kBound = 1 << 20;
    // The inner gzip stream ends at once; the outer one inflates far past the bound after it.
    const std::string stackedBomb = packed(packed(text, 31) + std::string(16 * kBound, '\0'), 31);
    const std::string gzip = packed(text, 31);
    const std::string noTrailer = gzip.substr(0, gzip.size() - 8);
    const std::string halfGzip = gzip.substr(0, gzip.size() / 2);
    auto length = [](const std::string& body) {
        return R"(["Content-Length", ")" + std::to_string(body.size()) + R"("])";
    };
    const std::string gzipField = R"(["Content-Encoding", "gzip"])";
    const struct {
        const char* name;
        std::string answer;
        int failure;  // 0: the load finishes with `body`
        std::string body;
    } cases[] = {
        {"two different lengths", answer(R"(["Content-Length", "5"], ["Content-Length", "7"])", "hello, "),
         kURLErrorBadServerResponse, ""},
        {"one field listing two lengths", answer(R"(["Content-Length", "5, 7"])", "hello, "),
         kURLErrorBadServerResponse, ""},
        {"the same length twice", answer(R"(["Content-Length", "5"], ["Content-Length", " 5"])", "hello"), 0,
         "hello"},
        {"gzip without its trailer", answer(gzipField + ", " + length(noTrailer), noTrailer),
         kURLErrorBadServerResponse, ""},
        {"gzip cut in its middle", answer(gzipField + ", " + length(halfGzip), halfGzip),
         kURLErrorBadServerResponse, ""},
        {"gzip cut, the close ends it", answer(gzipField, noTrailer), kURLErrorBadServerResponse, ""},
        {"a whole gzip body", answer(gzipField + ", " + length(gzip), gzip), 0, text},
        {"raw deflate",
         answer(R"(["Content-Encoding", "deflate"], )" + length(packed(text, -15)), packed(text, -15)), 0,
         text},
        {"zlib deflate, a byte at a time", trickled(R"(["Content-Encoding", "deflate"])", packed(text, 15)),
         0, text},
        {"raw deflate, a byte at a time", trickled(R"(["Content-Encoding", "deflate"])", packed(text, -15)),
         0, text},
        {"two gzip members", answer(gzipField, gzip + packed("tail", 31)), 0, text + "tail"},
        {"gzip inside gzip", answer(R"(["Content-Encoding", "gzip, gzip"])", packed(gzip, 31)), 0, text},
        {"raw deflate without its last block",
         answer(R"(["Content-Encoding", "deflate"])", packed(text, -15).substr(0, 4)),
         kURLErrorBadServerResponse, ""},
        {"gzip inside gzip, the outer one a bomb", answer(R"(["Content-Encoding", "gzip, gzip"])", stackedBomb),
         kURLErrorDataLengthExceedsMaximum, ""},
        {"raw deflate, bytes after its end",
         answer(R"(["Content-Encoding", "deflate"])", packed(text, -15) + "junk"), kURLErrorBadServerResponse, ""},
        {"zlib deflate inside gzip, bytes after its end",
         answer(R"(["Content-Encoding", "deflate, gzip"])", packed(packed(text, 15) + "junk", 31)),
         kURLErrorBadServerResponse, ""},
        {"a coding nobody asked for", answer(R"(["Content-Encoding", "compress"])", "abc"),
         kURLErrorBadServerResponse, ""},
        {"a body short of its length", answer(R"(["Content-Length", "100"])", "short"),
         kURLErrorBadServerResponse, ""},
        {"a chunked body cut", answer(R"(["Transfer-Encoding", "chunked"])", "5\r\nhello\r\n"),
         kURLErrorBadServerResponse, ""},
        {"no status line", answer("", "", "hello there"), kURLErrorBadServerResponse, ""},
    };
    dktest::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dktest::RecordingServer server(dir.file(c.name), dktest::everyAnswer(c.answer));
        ASSERT_TRUE(server.running());
        Request request;
        request.url = server.url() + "/";
        request.maxBodyLength = kBound;
        Outcome outcome = run(request);
        if (c.failure == 0) {
            EXPECT_TRUE(outcome.finished);
            EXPECT_FALSE(outcome.error);
            EXPECT_EQ(outcome.body, c.body);
            continue;
        }
        EXPECT_FALSE(outcome.finished);
        EXPECT_EQ(outcome.error ? outcome.error->code : 0, c.failure);
    }
}

// A Content-Length that is not one decimal number a length holds fails the load, cut body and
// all, and the cache keeps nothing of it; the body's true length is taken and kept.
TEST(URLLoadingBounds, UnreadableLengthsFailAndNothingIsKept) {
    auto cache = std::make_shared<URLCache>(1 << 20, 0, "");
    URLCache::setShared(cache);
    dktest::TempDir dir;
    for (const std::string length :
         {"100000000000000000000000", "18446744073709551645", "0x100", "29 3", "18"}) {
        SCOPED_TRACE(length);
        const bool whole = length == "18";
        const std::string field = R"(["Content-Length", ")" + length + R"("])";
        dktest::RecordingServer server(dir.file("server"),
                                       dktest::everyAnswer(answer(field, R"({"response":{"sess)")));
        ASSERT_TRUE(server.running());
        Request request;
        request.url = server.url() + "/";
        Outcome outcome = run(request);
        EXPECT_EQ(outcome.error ? outcome.error->code : 0, whole ? 0 : kURLErrorBadServerResponse);
        EXPECT_EQ(cache->cachedResponseForRequest(request).has_value(), whole);
        cache->removeAllCachedResponses();
    }
    URLCache::setShared(std::make_shared<URLCache>(4 << 20, 0, ""));
}

// A plain TCP server on 127.0.0.1 for one connection: it reads what comes (unless `reads` is
// false), writes `reply` and closes, with a reset when `resets`.
class PlainServer {
public:
    PlainServer(std::string reply, bool reads, bool resets) : m_reply(std::move(reply)) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(m_fd, 4) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, reads, resets] {
            int client = accept(m_fd, nullptr, nullptr);
            if (client < 0) return;
            if (resets) {
                linger now{1, 0};
                setsockopt(client, SOL_SOCKET, SO_LINGER, &now, sizeof now);
            }
            char buffer[4096];
            if (!reads || read(client, buffer, sizeof buffer) > 0) {
                [[maybe_unused]] ssize_t sent = write(client, m_reply.data(), m_reply.size());
            }
            close(client);
        });
    }
    ~PlainServer() {
        shutdown(m_fd, SHUT_RDWR);  // wakes an accept still waiting
        if (m_thread.joinable()) m_thread.join();
        close(m_fd);
    }
    int port() const { return m_port; }

private:
    std::string m_reply;
    int m_fd = -1;
    int m_port = 0;
    std::thread m_thread;
};

// A server that speaks no TLS, whatever it answers, fails an https load as a secure connection
// that could not be made; an address of a scheme the loader has not is unsupported.
TEST(URLLoadingBounds, FailuresCarryTheCodeOfWhatHappened) {
    const struct {
        const char* name;
        const char* reply;
        bool reads;
        bool resets;
    } servers[] = {
        {"an HTTP answer", "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", true,
         false},
        {"a banner", "SSH-2.0-OpenSSH_9.2\r\n", false, false},
        {"a close", "", true, false},
        {"a close before reading", "", false, false},
        {"a reset", "", true, true},
    };
    for (const auto& s : servers) {
        SCOPED_TRACE(s.name);
        PlainServer plain(s.reply, s.reads, s.resets);
        ASSERT_GT(plain.port(), 0);
        Request secure;
        secure.url = "https://127.0.0.1:" + std::to_string(plain.port()) + "/";
        Outcome outcome = run(secure);
        EXPECT_EQ(outcome.error ? outcome.error->code : 0, kURLErrorSecureConnectionFailed);
    }

    Request other;
    other.url = "gopher://127.0.0.1:1/";
    Outcome outcome = run(other);
    EXPECT_EQ(outcome.error ? outcome.error->code : 0, kURLErrorUnsupportedURL);
}

// A loop turned once per input (as a request thread turns its own) wakes for a load that fails
// before reaching the network, instead of waiting out its limit.
TEST(URLLoadingBounds, AnEarlyFailureWakesALoopTurnedOncePerInput) {
    for (const char* url : {"5", "no scheme or host", ""}) {
        auto outcome = std::make_shared<Outcome>();
        ConnectionHandlers h;
        h.didFail = [outcome](const Error& e) { outcome->error = e; };
        Request request;
        request.url = url;
        Connection connection = Connection::start(request, std::move(h));
        RunLoop::current().runOnce(600);
        ASSERT_TRUE(outcome->error) << url;
        EXPECT_EQ(outcome->error->code, kURLErrorBadURL);
        EXPECT_FALSE(connection.isRunning());
    }
}

}  // namespace
