// URL loading against a server on 127.0.0.1: what it receives, redirects, errors, time-outs,
// cancelling, where the handlers run, the synchronous form, TLS and the virtual clock.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLLoading.h"
#include "platform/net/tests/NetTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::net;
using dktest::ReceivedRequest;
using dktest::Reply;
using dktest::TestServer;
using plat::foundation::Clock;
using plat::foundation::LoopThread;
using plat::foundation::RunLoop;

// What a connection reported, in order: "response <status> <url>", "data", "finished",
// "failed <code>" (consecutive data callbacks are one "data"), and the body.
struct Record {
    std::vector<std::string> events;
    std::string body;
    std::optional<Response> response;
    std::optional<Error> error;
    std::set<std::thread::id> threads;
    std::atomic<bool> done{false};

    void note(const std::string& event) {
        threads.insert(std::this_thread::get_id());
        if (event != "data" || events.empty() || events.back() != "data") events.push_back(event);
    }

    ConnectionHandlers handlers() {
        ConnectionHandlers h;
        h.didReceiveResponse = [this](const Response& r) {
            response = r;
            note("response " + std::to_string(r.status) + " " + r.url);
        };
        h.didReceiveData = [this](const std::uint8_t* data, std::size_t size) {
            body.append(reinterpret_cast<const char*>(data), size);
            note("data");
        };
        h.didFinish = [this] {
            note("finished");
            done = true;
        };
        h.didFail = [this](const Error& e) {
            error = e;
            note("failed " + std::to_string(e.code));
            done = true;
        };
        return h;
    }
};

Request get(const std::string& url) {
    Request r;
    r.url = url;
    return r;
}

// Loads `request` on the main loop and returns what was reported.
std::unique_ptr<Record> load(const Request& request, std::function<bool(const Request&, const Response&)> hook = {}) {
    auto record = std::make_unique<Record>();
    ConnectionHandlers handlers = record->handlers();
    handlers.willRedirect = std::move(hook);
    Connection connection = Connection::start(request, std::move(handlers));
    EXPECT_TRUE(dktest::runUntil(RunLoop::current(), [&] { return record->done.load(); }));
    EXPECT_FALSE(connection.isRunning());
    return record;
}

Reply echo(const ReceivedRequest& request) {
    Reply reply;
    reply.status = 201;
    reply.headers = {{"X-Reply", "yes"}, {"Content-Type", "text/plain; charset=\"ISO-8859-1\""}};
    reply.body = request.method + " " + request.target + " " + request.body;
    return reply;
}

TEST(URLLoading, SendsMethodsHeadersAndBodiesAsGiven) {
    TestServer server(echo);
    struct Case {
        std::string method;
        Headers headers;
        std::string body;
        std::string seenMethod;
        const char* seenContentType;  // null: none sent
    } cases[] = {
        {"", {{"X-Token", "abc"}, {"Accept-Encoding", "gzip"}}, "", "GET", nullptr},
        {"POST", {{"Content-Type", "application/json"}}, "{\"a\":1}", "POST", "application/json"},
        {"POST", {}, "", "POST", nullptr},  // an empty form: no body, no content type
        {"PUT", {{"X-Empty", ""}}, "k=v&w=", "PUT", nullptr},
        {"DELETE", {}, "", "DELETE", nullptr},
        {"POST", {{"Content-Type", "text/plain"}}, std::string(1100000, 'x'), "POST", "text/plain"},  // no "Expect"
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seenMethod + " " + c.body.substr(0, 10));
        Request request = get(server.url("/path?q=1"));
        request.method = c.method;
        request.headers = c.headers;
        request.setBody(c.body);
        auto record = load(request);
        ASSERT_EQ(record->events.size(), 3u);
        EXPECT_EQ(record->events[0], "response 201 " + server.url("/path?q=1"));
        EXPECT_EQ(record->events.back(), "finished");
        EXPECT_EQ(record->body, c.seenMethod + " /path?q=1 " + c.body);
        EXPECT_EQ(*record->response->header("x-reply"), "yes");
        EXPECT_EQ(record->response->mimeType(), "text/plain");
        EXPECT_EQ(record->response->textEncodingName(), "iso-8859-1");

        const ReceivedRequest seen = server.requests().back();
        EXPECT_EQ(seen.method, c.seenMethod);
        EXPECT_EQ(seen.target, "/path?q=1");
        EXPECT_EQ(seen.body, c.body);
        for (const auto& [name, value] : c.headers) {
            ASSERT_TRUE(seen.header(name)) << name;
            EXPECT_EQ(*seen.header(name), value);
        }
        if (c.seenContentType) {
            ASSERT_TRUE(seen.header("Content-Type"));
            EXPECT_EQ(*seen.header("Content-Type"), c.seenContentType);
        } else {
            EXPECT_FALSE(seen.header("Content-Type"));
        }
        EXPECT_FALSE(seen.header("Expect"));
        EXPECT_FALSE(seen.header("Cookie"));
    }
}

TEST(URLLoading, CompressedBodiesArriveInflated) {
    const std::string text(5000, 'z');
    TestServer server([&](const ReceivedRequest&) {
        // gzip framing: zlib's deflate with 16 added to the window bits.
        z_stream z{};
        deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        std::string packed(deflateBound(&z, text.size()), '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = static_cast<uInt>(text.size());
        z.next_out = reinterpret_cast<Bytef*>(packed.data());
        z.avail_out = static_cast<uInt>(packed.size());
        deflate(&z, Z_FINISH);
        packed.resize(z.total_out);
        deflateEnd(&z);
        return Reply{200, {{"Content-Encoding", "gzip"}}, packed};
    });
    auto record = load(get(server.url("/z")));
    EXPECT_EQ(record->body, text);
    EXPECT_EQ(*server.requests()[0].header("Accept-Encoding"), "gzip, deflate");
}

// /a -> 302 /b (relative), /b -> 301 absolute /c, /c -> 200; /p -> 307 /c; /loop -> itself.
Reply redirects(const TestServer& server, const ReceivedRequest& request) {
    if (request.target == "/a") return {302, {{"Location", "b"}}, "to b"};
    if (request.target == "/b") return {301, {{"Location", server.url("/c")}}, "to c"};
    if (request.target == "/p") return {307, {{"Location", "/c"}}, ""};
    if (request.target == "/s") return {303, {{"Location", "/c"}}, ""};
    if (request.target == "/loop") return {302, {{"Location", "/loop"}}, ""};
    return {200, {}, "end " + request.method + " " + request.body};
}

TEST(URLLoading, FollowsRedirectsToTheFinalURL) {
    std::unique_ptr<TestServer> server;
    server = std::make_unique<TestServer>([&](const ReceivedRequest& r) { return redirects(*server, r); });
    struct Case {
        const char* path;
        const char* method;
        std::vector<std::string> seen;  // method and target of each request the server got
        const char* body;
    } cases[] = {
        {"/a", "POST", {"POST /a", "GET /b", "GET /c"}, "end GET "},     // 302 after POST: GET, no body
        {"/p", "POST", {"POST /p", "POST /c"}, "end POST form"},         // 307 keeps both
        {"/s", "PUT", {"PUT /s", "GET /c"}, "end GET "},                 // 303: GET
        {"/a", "GET", {"GET /a", "GET /b", "GET /c"}, "end GET "},
    };
    std::size_t before = 0;
    for (const Case& c : cases) {
        Request request = get(server->url(c.path));
        request.method = c.method;
        request.setBody("form");
        std::vector<std::string> asked;
        auto record = load(request, [&](const Request& next, const Response& redirect) {
            asked.push_back(std::to_string(redirect.status) + " " + redirect.url + " -> " + next.method + " " + next.url);
            return true;
        });
        EXPECT_EQ(record->events, (std::vector<std::string>{"response 200 " + server->url("/c"), "data", "finished"}));
        EXPECT_EQ(record->body, c.body);
        EXPECT_EQ(asked.size(), c.seen.size() - 1);
        if (c.seen.size() == 3) {
            EXPECT_EQ(asked[0], "302 " + server->url("/a") + " -> " + c.seen[1].substr(0, 3) + " " + server->url("/b"));
        }
        auto requests = server->requests();
        std::vector<std::string> seen;
        for (std::size_t i = before; i < requests.size(); ++i) seen.push_back(requests[i].method + " " + requests[i].target);
        before = requests.size();
        EXPECT_EQ(seen, c.seen) << c.path;
    }
}

TEST(URLLoading, AHookThatDeclinesStopsAtThatRedirect) {
    std::unique_ptr<TestServer> server;
    server = std::make_unique<TestServer>([&](const ReceivedRequest& r) { return redirects(*server, r); });
    auto record = load(get(server->url("/a")), [](const Request& next, const Response&) {
        return next.url.find("/c") == std::string::npos;
    });
    EXPECT_EQ(record->events, (std::vector<std::string>{"response 301 " + server->url("/b"), "data", "finished"}));
    EXPECT_EQ(record->body, "to c");
    EXPECT_EQ(*record->response->header("Location"), server->url("/c"));
    EXPECT_EQ(server->requests().size(), 2u);  // /c never asked for
}

TEST(URLLoading, ARedirectLoopFails) {
    std::unique_ptr<TestServer> server;
    server = std::make_unique<TestServer>([&](const ReceivedRequest& r) { return redirects(*server, r); });
    auto record = load(get(server->url("/loop")));
    EXPECT_EQ(record->events, (std::vector<std::string>{"failed -1007"}));
}

TEST(URLLoading, AnErrorStatusIsAResponseNotAFailure) {
    TestServer server([](const ReceivedRequest&) { return Reply{404, {}, "missing"}; });
    auto record = load(get(server.url("/nothing")));
    EXPECT_EQ(record->events,
              (std::vector<std::string>{"response 404 " + server.url("/nothing"), "data", "finished"}));
    EXPECT_EQ(record->body, "missing");
}

TEST(URLLoading, FailuresCarryThePlatformsCodes) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(dktest::closedPort()) + "/";
    struct Case {
        std::string url;
        int code;
    } cases[] = {
        {refused, kURLErrorCannotConnectToHost},
        {"", kURLErrorBadURL},
        {"no scheme or host", kURLErrorBadURL},
        {"ftp://127.0.0.1/file", kURLErrorUnsupportedURL},
    };
    for (const Case& c : cases) {
        auto record = load(get(c.url));
        EXPECT_EQ(record->events, (std::vector<std::string>{"failed " + std::to_string(c.code)})) << c.url;
        ASSERT_TRUE(record->error);
        EXPECT_EQ(record->error->domain, "NSURLErrorDomain");
        EXPECT_EQ(failingURL(*record->error), c.url);
        EXPECT_EQ(record->error->message, describeURLError(c.code));
    }
}

TEST(URLLoading, ASilentServerTimesOut) {
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "late", true}; });
    Request request = get(server.url("/slow"));
    request.timeout = 0.2;
    auto record = load(request);
    EXPECT_EQ(record->events, (std::vector<std::string>{"failed -1001"}));
}

TEST(URLLoading, NothingIsCalledAfterCancel) {
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "body", true}; });
    RunLoop& loop = RunLoop::current();
    Record record;
    Connection connection = Connection::start(get(server.url("/held")), record.handlers());
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return server.requests().size() == 1; }));
    EXPECT_TRUE(connection.isRunning());
    connection.cancel();
    EXPECT_FALSE(connection.isRunning());
    server.release();
    ASSERT_TRUE(server.waitForReplies(1));
    loop.runFor(0.2);  // time for anything that would (wrongly) still arrive
    EXPECT_TRUE(record.events.empty());
}

TEST(URLLoading, AHandlerMayCancelOrDropItsOwnConnection) {
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, std::string(100000, 'b')}; });
    RunLoop& loop = RunLoop::current();
    // Cancelled from the response handler, though data and the end may already be in hand.
    Record cancelled;
    ConnectionHandlers handlers = cancelled.handlers();
    Connection first;
    handlers.didReceiveResponse = [&](const Response& r) {
        cancelled.note("response " + std::to_string(r.status));
        first.cancel();
    };
    first = Connection::start(get(server.url("/1")), handlers);
    // Dropped (the handle destroyed) from the first data handler.
    Record dropped;
    auto second = std::make_unique<Connection>();
    handlers = dropped.handlers();
    handlers.didReceiveData = [&](const std::uint8_t*, std::size_t) {
        dropped.note("data");
        second.reset();
    };
    *second = Connection::start(get(server.url("/2")), handlers);
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return !second && !cancelled.events.empty(); }));
    loop.runFor(0.2);
    EXPECT_EQ(cancelled.events, (std::vector<std::string>{"response 200"}));
    EXPECT_EQ(dropped.events, (std::vector<std::string>{"response 200 " + server.url("/2"), "data"}));
}

TEST(URLLoading, HandlersRunOnTheLoopThatStartedTheConnection) {
    TestServer server(echo);
    // The calling thread's loop.
    auto here = std::this_thread::get_id();
    auto record = load(get(server.url("/main")));
    EXPECT_EQ(record->threads, (std::set<std::thread::id>{here}));

    // Another thread's loop, started from here (the start is posted there), and the network loop.
    LoopThread thread("test-loop");
    for (RunLoop* loop : {&thread.loop(), &networkLoop()}) {
        Record remote;
        std::thread::id loopThread;
        loop->performAndWait([&] { loopThread = std::this_thread::get_id(); });
        Connection connection = Connection::start(get(server.url("/thread")), remote.handlers(), loop);
        while (!remote.done) std::this_thread::yield();
        loop->performAndWait([] {});  // the handlers have returned
        EXPECT_EQ(remote.events.back(), "finished");
        EXPECT_EQ(remote.threads, (std::set<std::thread::id>{loopThread}));
        EXPECT_NE(loopThread, here);
    }
}

TEST(URLLoading, CancelFromAnotherThreadReleasesTheTransfer) {
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "never", true}; });
    LoopThread thread("test-loop");
    Record record;
    auto clock = Clock::processShared();
    Connection connection = Connection::start(get(server.url("/held")), record.handlers(), &thread.loop());
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_TRUE(clock->hasWorkInFlight());
    connection.cancel();
    thread.loop().performAndWait([] {});  // the teardown posted by cancel has run
    EXPECT_FALSE(clock->hasWorkInFlight());
    server.release();
    ASSERT_TRUE(server.waitForReplies(1));
    thread.loop().performAndWait([] {});
    EXPECT_TRUE(record.events.empty());
}

TEST(URLLoading, SynchronousSend) {
    std::unique_ptr<TestServer> server;
    server = std::make_unique<TestServer>([&](const ReceivedRequest& r) {
        if (r.target == "/slow") return Reply{200, {}, "late", true};
        if (r.target == "/gone") return Reply{404, {}, "no"};
        return redirects(*server, r);
    });
    SyncResult ok = sendSynchronous(get(server->url("/a")));
    ASSERT_TRUE(ok.response);
    EXPECT_EQ(ok.response->status, 200);
    EXPECT_EQ(ok.response->url, server->url("/c"));
    EXPECT_EQ(std::string(ok.data.begin(), ok.data.end()), "end GET ");
    EXPECT_FALSE(ok.error);

    SyncResult stopped = sendSynchronous(get(server->url("/a")), [](const Request&, const Response&) { return false; });
    ASSERT_TRUE(stopped.response);
    EXPECT_EQ(stopped.response->status, 302);

    SyncResult missing = sendSynchronous(get(server->url("/gone")));
    ASSERT_TRUE(missing.response);
    EXPECT_EQ(missing.response->status, 404);
    EXPECT_FALSE(missing.error);

    Request slow = get(server->url("/slow"));
    slow.timeout = 0.2;
    SyncResult late = sendSynchronous(slow);
    ASSERT_TRUE(late.error);
    EXPECT_EQ(late.error->code, kURLErrorTimedOut);
    EXPECT_FALSE(late.response);

    SyncResult refused = sendSynchronous(get("http://127.0.0.1:" + std::to_string(dktest::closedPort()) + "/"));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, kURLErrorCannotConnectToHost);
}

TEST(URLLoading, ALoadIsWorkInFlightOnItsLoopsVirtualClock) {
    TestServer server([](const ReceivedRequest& r) { return Reply{200, {}, r.target, r.target == "/held"}; });
    auto clock = std::make_shared<Clock>(Clock::Kind::Virtual);
    RunLoop loop(clock);
    bool fired = false;
    auto timer = loop.addTimer(30, [&] { fired = true; });

    Record record;
    Connection connection = Connection::start(get(server.url("/quick")), record.handlers(), &loop);
    EXPECT_TRUE(clock->hasWorkInFlight());
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return record.done.load(); }));
    EXPECT_EQ(record.events.back(), "finished");
    EXPECT_FALSE(clock->hasWorkInFlight());

    Record held;
    Connection waiting = Connection::start(get(server.url("/held")), held.handlers(), &loop);
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return server.requests().size() == 2; }));
    EXPECT_TRUE(clock->hasWorkInFlight());
    waiting.cancel();
    EXPECT_FALSE(clock->hasWorkInFlight());
    // With nothing in flight the clock jumps straight to the timer.
    loop.runFor(60);
    EXPECT_TRUE(fired);
}

TEST(URLLoading, TlsPeersAreVerifiedAgainstTheExtraCertificates) {
    const dktest::TlsIdentity identity = dktest::TlsIdentity::selfSigned();
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "secret"}; }, &identity);
    dktest::TempDir dir;
    dktest::writeFile(dir.file("ca.pem"), identity.certificatePem);

    unsetenv("DROVIK_CA_FILE");
    auto untrusted = load(get(server.url("/")));
    EXPECT_EQ(untrusted->events, (std::vector<std::string>{"failed -1202"}));

    setenv("DROVIK_CA_FILE", dir.file("ca.pem").c_str(), 1);
    auto trusted = load(get(server.url("/")));
    EXPECT_EQ(trusted->events, (std::vector<std::string>{"response 200 " + server.url("/"), "data", "finished"}));
    EXPECT_EQ(trusted->body, "secret");
    unsetenv("DROVIK_CA_FILE");
}

}  // namespace
