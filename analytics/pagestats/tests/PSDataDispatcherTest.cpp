// The dispatcher against a recording server: pipelining, its limits and its end, the back-off,
// time-outs, refused connections and dry runs; the socket's partial writes and empty reads.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analytics/pagestats/PSDataDispatcher.h"
#include "analytics/pagestats/PSPersistentHitStore.h"
#include "analytics/pagestats/tests/PagestatsTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;

// The tracker's part: deletes each acknowledged hit and counts completed dispatches.
struct Deleter : PSDataDispatcherDelegate {
    PSPersistentHitStore* store = nullptr;
    int completions = 0;
    void dataDispatcherDispatched(PSDataDispatcher&, const PSHit& hit) override { store->deleteHit(hit.hitId()); }
    void dataDispatcherDidComplete(PSDataDispatcher&) override { ++completions; }
};

class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override { deleter.store = &store; }
    void TearDown() override { dktest::setCollector(""); }

    void storePages(int n) {
        for (int i = 0; i < n; ++i) {
            PSEvent page = dktest::pageView("/p" + std::to_string(i));
            ASSERT_TRUE(store.putEvent(page));
        }
    }
    dktest::RecordingServer& serve(const std::string& script) {
        server = std::make_unique<dktest::RecordingServer>(dir.file("server"), script);
        dktest::setCollector(server->url());
        return *server;
    }
    void startDispatch() { dispatcher.dispatchHits(*store.peekHits(-1)); }
    // One whole dispatch.
    void dispatch() {
        const int before = deleter.completions;
        startDispatch();
        ASSERT_TRUE(dktest::runMainUntil([&] { return deleter.completions > before; }));
    }
    int connections() const {
        int n = 0;
        while (std::filesystem::exists(dir.file("server/conn-" + std::to_string(n + 1) + ".bin"))) ++n;
        return n;
    }
    static double field(const std::string& line, const std::string& key) {
        return std::strtod(line.c_str() + line.find("\"" + key + "\": ") + key.size() + 4, nullptr);
    }

    dktest::TempDir dir;
    std::shared_ptr<PSHitBuilder> builder = dktest::fixedBuilder();
    PSPersistentHitStore store{builder, dir.file("pagestats.sql")};
    Deleter deleter;
    PSDataDispatcher dispatcher{&deleter, "PageStats", "1.3"};
    std::unique_ptr<dktest::RecordingServer> server;
};

// Every request carries its hit once, with one queue time after the hit time.
void expectOneQueueTime(const std::vector<std::string>& requests) {
    for (const std::string& line : requests) {
        const std::size_t queued = line.find("&utmqt=");
        ASSERT_NE(queued, std::string::npos) << line;
        EXPECT_EQ(line.find("utmqt=", queued + 7), std::string::npos) << line;
        EXPECT_LT(line.find("&utmht="), queued) << line;
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(line[queued + 7]))) << line;
    }
}

TEST_F(DispatcherTest, PipelinedWritesCloseAndOneZeroAnswers) {
    const std::string ok = dktest::okAnswer(), byBytes = dktest::okAnswer(R"("pause": 0.0002)");
    const std::string closing = R"("headers": [["Connection", "close"]], "close": true)";
    struct Case {
        const char* what;
        std::string script;
        int hits, connections, requests, left;  // requests -1: what a closed peer read varies
        unsigned writes;
        bool pipelined;
    } cases[] = {
        {"45 pipelined", R"({"default": )" + ok + "}", 45, 1, 45, 0, 2, true},
        {"45 one byte at a time", R"({"default": )" + byBytes + "}", 45, 1, 45, 0, 2, true},
        {"200 pipelined", R"({"default": )" + ok + "}", 200, 1, 150, 50, 5, true},
        {"close", R"({"default": )" + ok + R"(, "requests": {"1": )" + dktest::okAnswer(closing) + "}}", 8, 5, 5, 3, 5, false},
        {"close one byte at a time", R"({"default": )" + byBytes + R"(, "requests": {"1": )" +
             dktest::okAnswer(closing + R"(, "pause": 0.0002)") + "}}", 8, 5, 5, 3, 5, false},
        {"1.0", R"({"default": )" + dktest::okAnswer(R"("status": "HTTP/1.0 200 OK")") + "}", 8, 5, -1, 3, 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dktest::TempDir caseDir;
        PSPersistentHitStore caseStore(builder, caseDir.file("pagestats.sql"));
        Deleter caseDeleter;
        caseDeleter.store = &caseStore;
        PSDataDispatcher caseDispatcher(&caseDeleter, "PageStats", "1.3");
        dktest::RecordingServer caseServer(caseDir.file("server"), c.script);
        dktest::setCollector(caseServer.url());
        for (int i = 0; i < c.hits; ++i) {
            PSEvent page = dktest::pageView("/p" + std::to_string(i));
            ASSERT_TRUE(caseStore.putEvent(page));
        }
        caseDispatcher.dispatchHits(*caseStore.peekHits(-1));
        ASSERT_TRUE(dktest::runMainUntil([&] { return caseDeleter.completions == 1; }));
        caseServer.stop();
        const std::vector<std::string> requests = caseServer.requestLines();
        int opened = 0;
        while (std::filesystem::exists(caseDir.file("server/conn-" + std::to_string(opened + 1) + ".bin"))) ++opened;
        EXPECT_EQ(opened, c.connections);
        // A server that closes reads no further; with pipelining off the rest go one at a time.
        if (c.requests >= 0) {
            EXPECT_EQ(static_cast<int>(requests.size()), c.requests);
        }
        EXPECT_EQ(static_cast<int>(caseStore.storedHits()), c.left);
        EXPECT_EQ(caseDispatcher.sequentialRequests(), c.writes);
        EXPECT_EQ(caseDispatcher.pipelineMode(), c.pipelined);
        expectOneQueueTime(requests);
    }
}

// The 31st request goes out only once the 30th is answered.
TEST_F(DispatcherTest, TheSecondWriteFollowsTheThirtiethAnswer) {
    serve(R"({"default": )" + dktest::okAnswer() + R"(, "requests": {"30": )" + dktest::okAnswer(R"("delay": 0.3)") + "}}");
    storePages(45);
    dispatch();
    server->stop();
    const std::vector<std::string> requests = server->requestLines();
    ASSERT_EQ(requests.size(), 45u);
    EXPECT_GE(field(requests[30], "time"), field(requests[29], "time") + 0.3);
    EXPECT_LT(field(requests[29], "time"), field(requests[0], "time") + 0.3);
}

TEST_F(DispatcherTest, RefusalsBackOffDoublingUntilAnAnswerIsTaken) {
    serve(R"({"default": )" + dktest::okAnswer() +
          R"(, "requests": {"1": {"status": "HTTP/1.1 503 Busy"}, "2": {"status": "HTTP/1.1 500 Oops"}}})");
    storePages(1);
    dispatch();
    EXPECT_EQ(dispatcher.lastStatusCode(), 503);
    EXPECT_EQ(store.storedHits(), 1u);
    for (double interval : {2.0, 4.0}) {
        const int before = deleter.completions;
        startDispatch();
        ASSERT_TRUE(dispatcher.isWaitingToRetry());
        const double delay = *dispatcher.nextDeadline() - RunLoop::main().now();
        EXPECT_GE(delay, 0.0);
        EXPECT_LT(delay, interval);
        startDispatch();  // refused while the retry is pending
        ASSERT_TRUE(dktest::runMainUntil([&] { return deleter.completions > before; }));
        EXPECT_EQ(deleter.completions, before + 1);
    }
    EXPECT_EQ(store.storedHits(), 0u);
    storePages(1);
    startDispatch();
    EXPECT_FALSE(dispatcher.isWaitingToRetry());
    EXPECT_EQ(dispatcher.retryInterval(), 2.0);
    ASSERT_TRUE(dktest::runMainUntil([&] { return !dispatcher.isBusy(); }));
    server->stop();
    EXPECT_EQ(server->requestLines().size(), 4u);
}

TEST_F(DispatcherTest, ASilentCollectorIsGivenUpAfterAMinute) {
    serve(R"({"default": {"silent": true}})");
    storePages(2);
    const double start = RunLoop::main().now();
    dispatch();
    EXPECT_GE(RunLoop::main().now() - start, PSDataDispatcher::kProgressTimeout);
    EXPECT_EQ(store.storedHits(), 2u);
    EXPECT_EQ(dispatcher.lastStatusCode(), 0);
}

// An answer whose body, by its length, ends on the CR of a CR-LF: the LF goes with the next
// answer, and both hits are taken (the dispatcher read past its buffer on the LF and crashed, at
// every start after, the hits being still stored).
TEST_F(DispatcherTest, AnAnswerWhoseBodyEndsOnACarriageReturnIsTaken) {
    // The second answer comes later: the LF is the last byte read.
    const std::string crBody = R"("headers": [["Content-Length", "3"]], "body": "ab\r\n")";
    serve(R"({"default": {)" + crBody + R"(}, "requests": {"2": {)" + crBody + R"(, "delay": 0.2}}})");
    storePages(2);
    dispatch();
    EXPECT_EQ(store.storedHits(), 0u);
    EXPECT_EQ(dispatcher.lastStatusCode(), 200);
}

// A collector trickling a head of short lines, each byte in time to keep the dispatch alive, is
// given up at the dispatch's deadline (the 64 KB bound on a head would take hours); the hits stay.
TEST_F(DispatcherTest, ATrickledHeadIsGivenUpAtTheDispatchsDeadline) {
    dktest::HostileServer trickler(dir.file("trickler"), R"({"attack": "trickle-head", "interval": 0.02})");
    ASSERT_TRUE(trickler.running());
    dktest::setCollector(trickler.url());
    dispatcher.setDispatchDeadline(1.0);
    storePages(2);
    dispatch();
    EXPECT_EQ(store.storedHits(), 2u);
    EXPECT_EQ(dispatcher.lastStatusCode(), 0);
    EXPECT_FALSE(dispatcher.isBusy());
    trickler.stop();
    EXPECT_EQ(trickler.requestLines().size(), 2u);
}

TEST_F(DispatcherTest, ARefusedConnectionKeepsTheHits) {
    dktest::setCollector("http://127.0.0.1:1");
    storePages(2);
    dispatch();
    EXPECT_EQ(store.storedHits(), 2u);
}

TEST_F(DispatcherTest, ADryRunConnectsAndAcknowledgesWithoutWriting) {
    serve(R"({"default": )" + dktest::okAnswer() + "}");
    storePages(45);
    dispatcher.setDryRun(true);
    dispatch();
    EXPECT_EQ(store.storedHits(), 0u);
    server->stop();
    EXPECT_EQ(connections(), 1);
    EXPECT_TRUE(server->requestLines().empty());
}

struct SocketWatcher : PSSocketDelegate {
    bool connected = false, failed = false;
    void socketBecameReadable(PSSocket&) override {}
    void socketConnectDidFail(PSSocket&) override { failed = true; }
    void socketConnectDidSucceed(PSSocket&) override { connected = true; }
};

// What the connection does not take at once goes later, whole; a read with nothing there yet is
// not the end of the stream.
TEST(PSTCPSocket, KeepsWhatAWriteLeftAndReadsNothingYetAsOpen) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const int small = 4096;  // a small window, so a big write is taken in part
    setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);

    SocketWatcher watcher;
    std::shared_ptr<PSTCPSocket> socket = PSTCPSocket::create(watcher, RunLoop::main());
    socket->connect("127.0.0.1", ntohs(address.sin_port));
    ASSERT_TRUE(dktest::runMainUntil([&] { return watcher.connected || watcher.failed; }));
    ASSERT_TRUE(watcher.connected);
    int peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    char byte;
    EXPECT_EQ(socket->read(&byte, 1), PSSocket::kNothingYet);

    std::string sent(16 << 20, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 + i / 4096);
    EXPECT_EQ(socket->send(sent.data(), sent.size()), static_cast<long>(sent.size()));
    fcntl(peer, F_SETFL, O_NONBLOCK);
    std::string received;
    // Short turns: once the socket has written its last part, nothing more wakes the loop while
    // the rest still waits here to be read.
    const double deadline = Clock::monotonicSeconds() + 30;
    while (received.size() < sent.size() && Clock::monotonicSeconds() < deadline) {
        RunLoop::main().runOnce(0.01);
        char buffer[65536];
        for (ssize_t n; (n = recv(peer, buffer, sizeof buffer, 0)) > 0;) received.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_TRUE(received == sent);
    socket->close();
    close(peer);
    close(listener);
}

}  // namespace
