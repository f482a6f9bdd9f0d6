// URL loading against a server on 127.0.0.1: what it receives, redirects, errors, time-outs,
// cancelling, where the handlers run, the synchronous form, TLS and the virtual clock.
#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <limits>
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
using Events = std::vector<std::string>;

// What a connection reported, in order: "response <status> <url>", "data", "finished",
// "failed <code>" (consecutive data callbacks are one "data"), and the body.
struct Record {
    Events events;
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

Request get(const std::string& url, double timeout = kDefaultTimeout) {
    Request r;
    r.url = url;
    r.timeout = timeout;
    return r;
}

// Loads `request` on the calling thread's loop and returns what was reported.
std::unique_ptr<Record> load(const Request& request, std::function<bool(const Request&, const Response&)> hook = {}) {
    auto record = std::make_unique<Record>();
    ConnectionHandlers handlers = record->handlers();
    handlers.willRedirect = std::move(hook);
    Connection connection = Connection::start(request, std::move(handlers));
    EXPECT_TRUE(dktest::runUntil(RunLoop::current(), [&] { return record->done.load(); }));
    EXPECT_FALSE(connection.isRunning());
    return record;
}

const std::string kText(5000, 'z');

std::string deflated(const std::string& text) {
    uLongf size = compressBound(text.size());
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
              text.size(), Z_BEST_COMPRESSION);
    packed.resize(size);
    return packed;
}

// One server for every test: redirects, a 404, a reply held back, a large and a compressed body,
// and an echo of everything else.
class URLLoading : public ::testing::Test {
protected:
    Reply route(const ReceivedRequest& r) const {
        if (r.target == "/a") return {302, {{"Location", "b"}}, "to b"};
        if (r.target == "/b") return {301, {{"Location", url("/c")}}, "to c"};
        if (r.target == "/p") return {307, {{"Location", "/c"}}, ""};
        if (r.target == "/s") return {303, {{"Location", "/c"}}, ""};
        if (r.target == "/loop") return {302, {{"Location", "/loop"}}, ""};
        if (r.target == "/gone") return {404, {}, "missing"};
        if (r.target == "/held") return {200, {}, "late", true};
        if (r.target.starts_with("/big")) return {200, {}, std::string(100000, 'b')};
        if (r.target == "/z") return {200, {{"Content-Encoding", "deflate"}}, deflated(kText)};
        return {201,
                {{"X-Reply", "yes"}, {"Content-Type", "text/plain; charset=\"ISO-8859-1\""}},
                r.method + " " + r.target + " " + r.body};
    }
    std::string url(const std::string& path) const { return m_server.url(path); }
    std::string path(const std::string& url) const { return url.substr(this->url("").size()); }
    Events finished(int status, const std::string& path) const {
        return {"response " + std::to_string(status) + " " + url(path), "data", "finished"};
    }

    TestServer m_server{[this](const ReceivedRequest& r) { return route(r); }};
};

TEST_F(URLLoading, SendsMethodsHeadersAndBodiesAsGiven) {
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
    std::unique_ptr<Record> record;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seenMethod + " " + c.body.substr(0, 10));
        Request request = get(url("/path?q=1"));
        request.method = c.method;
        request.headers = c.headers;
        request.setBody(c.body);
        record = load(request);
        EXPECT_EQ(record->events, finished(201, "/path?q=1"));
        EXPECT_EQ(record->body, c.seenMethod + " /path?q=1 " + c.body);  // the method, target and body received

        const ReceivedRequest seen = m_server.requests().back();
        for (const auto& [name, value] : c.headers) {
            ASSERT_TRUE(seen.header(name)) << name;
            EXPECT_EQ(*seen.header(name), value);
        }
        const std::string* type = seen.header("Content-Type");
        EXPECT_EQ(type ? *type : "-", std::string(c.seenContentType ? c.seenContentType : "-"));
        EXPECT_FALSE(seen.header("Expect"));
        EXPECT_FALSE(seen.header("Cookie"));
    }
    EXPECT_EQ(*record->response->header("x-reply"), "yes");
    EXPECT_EQ(record->response->mimeType(), "text/plain");
    EXPECT_EQ(record->response->textEncodingName(), "iso-8859-1");

    // Compressed bodies arrive inflated.
    EXPECT_EQ(load(get(url("/z")))->body, kText);
    EXPECT_EQ(*m_server.requests().back().header("Accept-Encoding"), "gzip, deflate");
}

TEST_F(URLLoading, FollowsRedirectsAsTheHookAllows) {
    // /a -> 302 /b (relative), /b -> 301 absolute /c; /p -> 307 /c; /s -> 303 /c.
    struct Case {
        const char* path;
        const char* method;
        const char* stopAt;  // the hook declines the redirect to this path
        Events asked;        // what the hook was shown: the redirect, then the request that would follow
        Events received;     // what the server got
        int status;
        const char* finalPath;
        const char* body;
    } cases[] = {
        {"/a", "POST", nullptr, {"302 /a -> GET /b", "301 /b -> GET /c"}, {"POST /a", "GET /b", "GET /c"}, 201, "/c",
         "GET /c "},  // 302 after POST: GET, no body
        {"/p", "POST", nullptr, {"307 /p -> POST /c"}, {"POST /p", "POST /c"}, 201, "/c", "POST /c form"},
        {"/s", "PUT", nullptr, {"303 /s -> GET /c"}, {"PUT /s", "GET /c"}, 201, "/c", "GET /c "},
        // Declined: that redirect and its body are the final ones.
        {"/a", "GET", "/c", {"302 /a -> GET /b", "301 /b -> GET /c"}, {"GET /a", "GET /b"}, 301, "/b", "to c"},
    };
    std::size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        Request request = get(url(c.path));
        request.method = c.method;
        request.setBody("form");
        Events asked;
        auto record = load(request, [&](const Request& next, const Response& redirect) {
            asked.push_back(std::to_string(redirect.status) + " " + path(redirect.url) + " -> " + next.method + " " +
                            path(next.url));
            return !c.stopAt || path(next.url) != c.stopAt;
        });
        EXPECT_EQ(record->events, finished(c.status, c.finalPath));
        EXPECT_EQ(record->body, c.body);
        EXPECT_EQ(asked, c.asked);
        Events received;
        for (const ReceivedRequest& r : m_server.requests()) received.push_back(r.method + " " + r.target);
        EXPECT_EQ(Events(received.begin() + static_cast<long>(before), received.end()), c.received);
        before = received.size();
        if (c.stopAt) {
            EXPECT_EQ(*record->response->header("Location"), url(c.stopAt));
        }
    }
}

TEST_F(URLLoading, AnErrorStatusIsAResponseAndFailuresCarryThePlatformsCodes) {
    const std::string refused = dktest::refusedURL();
    struct Case {
        std::string url;
        double timeout;
        Events events;
    } cases[] = {
        {url("/gone"), kDefaultTimeout, finished(404, "/gone")},
        {refused, kDefaultTimeout, {"failed -1004"}},
        {"", kDefaultTimeout, {"failed -1000"}},
        {"no scheme or host", kDefaultTimeout, {"failed -1000"}},
        {"ftp://127.0.0.1/file", kDefaultTimeout, {"failed -1002"}},
        {url("/held"), 0.2, {"failed -1001"}},  // a silent server
        {url("/loop"), kDefaultTimeout, {"failed -1007"}},
    };
    for (const Case& c : cases) {
        auto record = load(get(c.url, c.timeout));
        EXPECT_EQ(record->events, c.events) << c.url;
        if (!record->error) {
            EXPECT_EQ(record->body, "missing");
            continue;
        }
        EXPECT_EQ(record->error->domain, "NSURLErrorDomain");
        EXPECT_EQ(failingURL(*record->error), c.url);
        EXPECT_EQ(record->error->message, describeURLError(record->error->code));
    }
}

TEST_F(URLLoading, NothingIsCalledAfterCancel) {
    RunLoop& loop = RunLoop::current();
    Record record;
    Connection connection = Connection::start(get(url("/held")), record.handlers());
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return m_server.requests().size() == 1; }));
    EXPECT_TRUE(connection.isRunning());
    connection.cancel();
    EXPECT_FALSE(connection.isRunning());
    m_server.release();
    ASSERT_TRUE(m_server.waitForReplies(1));
    loop.runFor(0.2);  // time for anything that would (wrongly) still arrive
    EXPECT_TRUE(record.events.empty());
}

TEST_F(URLLoading, AHandlerMayCancelOrDropItsOwnConnection) {
    RunLoop& loop = RunLoop::current();
    // Cancelled from the response handler, though data and the end may already be in hand.
    Record cancelled;
    ConnectionHandlers handlers = cancelled.handlers();
    Connection first;
    handlers.didReceiveResponse = [&](const Response& r) {
        cancelled.note("response " + std::to_string(r.status));
        first.cancel();
    };
    first = Connection::start(get(url("/big1")), handlers);
    // Dropped (the handle destroyed) from the first data handler.
    Record dropped;
    auto second = std::make_unique<Connection>();
    handlers = dropped.handlers();
    handlers.didReceiveData = [&](const std::uint8_t*, std::size_t) {
        dropped.note("data");
        second.reset();
    };
    *second = Connection::start(get(url("/big2")), handlers);
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return !second && !cancelled.events.empty(); }));
    loop.runFor(0.2);
    EXPECT_EQ(cancelled.events, Events{"response 200"});
    EXPECT_EQ(dropped.events, (Events{"response 200 " + url("/big2"), "data"}));
}

TEST_F(URLLoading, HandlersRunOnTheLoopThatStartedTheConnection) {
    // The calling thread's loop.
    const auto here = std::this_thread::get_id();
    EXPECT_EQ(load(get(url("/main")))->threads, std::set{here});

    // Another thread's loop, started from here (the start is posted there), and the network loop.
    LoopThread thread("test-loop");
    for (RunLoop* loop : {&thread.loop(), &networkLoop()}) {
        Record remote;
        std::thread::id loopThread;
        loop->performAndWait([&] { loopThread = std::this_thread::get_id(); });
        Connection connection = Connection::start(get(url("/thread")), remote.handlers(), loop);
        while (!remote.done) std::this_thread::yield();
        loop->performAndWait([] {});  // the handlers have returned
        EXPECT_EQ(remote.events.back(), "finished");
        EXPECT_EQ(remote.threads, std::set{loopThread});
        EXPECT_NE(loopThread, here);
    }
}

TEST_F(URLLoading, CancelFromAnotherThreadReleasesTheTransfer) {
    LoopThread thread("test-loop");
    Record record;
    auto clock = Clock::processShared();
    Connection connection = Connection::start(get(url("/held")), record.handlers(), &thread.loop());
    ASSERT_TRUE(m_server.waitForRequests(1));
    EXPECT_TRUE(clock->hasWorkInFlight());
    connection.cancel();
    thread.loop().performAndWait([] {});  // the teardown posted by cancel has run
    EXPECT_FALSE(clock->hasWorkInFlight());
    m_server.release();
    ASSERT_TRUE(m_server.waitForReplies(1));
    thread.loop().performAndWait([] {});
    EXPECT_TRUE(record.events.empty());
}

TEST_F(URLLoading, SynchronousSend) {
    struct Case {
        Request request;
        bool stopAtRedirect;
        int status;  // 0: no response
        int error;   // 0: none
        std::string finalPath, body;
        double limit = std::numeric_limits<double>::infinity();
    } cases[] = {
        {get(url("/a")), false, 201, 0, "/c", "GET /c "},
        {get(url("/a")), true, 302, 0, "/a", "to b"},
        {get(url("/gone")), false, 404, 0, "/gone", "missing"},
        {get(url("/held"), 0.2), false, 0, kURLErrorTimedOut, "", ""},
        // Bounded as a whole, well before the time-out between arrivals.
        {get(url("/held"), 600), false, 0, kURLErrorTimedOut, "", "", 0.2},
        {get(dktest::refusedURL()), false, 0, kURLErrorCannotConnectToHost, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.url);
        SyncResult result =
            c.stopAtRedirect ? sendSynchronous(c.request, [](const Request&, const Response&) { return false; })
                             : sendSynchronous(c.request, {}, c.limit);
        EXPECT_EQ(result.response ? result.response->status : 0, c.status);
        EXPECT_EQ(result.error ? result.error->code : 0, c.error);
        if (!result.response) continue;
        EXPECT_EQ(result.response->url, url(c.finalPath));
        EXPECT_EQ(std::string(result.data.begin(), result.data.end()), c.body);
    }
}

TEST_F(URLLoading, ALoadIsWorkInFlightOnItsLoopsVirtualClock) {
    auto clock = std::make_shared<Clock>(Clock::Kind::Virtual);
    RunLoop loop(clock);
    bool fired = false;
    auto timer = loop.addTimer(30, [&] { fired = true; });

    Record record;
    Connection connection = Connection::start(get(url("/quick")), record.handlers(), &loop);
    EXPECT_TRUE(clock->hasWorkInFlight());
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return record.done.load(); }));
    EXPECT_EQ(record.events.back(), "finished");
    EXPECT_FALSE(clock->hasWorkInFlight());

    Record held;
    Connection waiting = Connection::start(get(url("/held")), held.handlers(), &loop);
    ASSERT_TRUE(dktest::runUntil(loop, [&] { return m_server.requests().size() == 2; }));
    EXPECT_TRUE(clock->hasWorkInFlight());
    waiting.cancel();
    EXPECT_FALSE(clock->hasWorkInFlight());
    // With nothing in flight the clock jumps straight to the timer.
    loop.runFor(60);
    EXPECT_TRUE(fired);
}

TEST(URLLoadingTls, PeersAreVerifiedAgainstTheExtraCertificates) {
    const dktest::TlsIdentity identity = dktest::TlsIdentity::selfSigned();
    TestServer server([](const ReceivedRequest&) { return Reply{200, {}, "secret"}; }, &identity);
    dktest::TempDir dir;
    dktest::writeFile(dir.file("ca.pem"), identity.certificatePem);

    unsetenv("DROVIK_CA_FILE");
    EXPECT_EQ(load(get(server.url("/")))->events, Events{"failed -1202"});

    setenv("DROVIK_CA_FILE", dir.file("ca.pem").c_str(), 1);
    auto trusted = load(get(server.url("/")));
    EXPECT_EQ(trusted->events, (Events{"response 200 " + server.url("/"), "data", "finished"}));
    EXPECT_EQ(trusted->body, "secret");
    unsetenv("DROVIK_CA_FILE");
}

}  // namespace
