// URL loading against a hostile server: every load ends, in bounded memory and time, whatever the
// server sends; and a load that fails before reaching curl wakes a loop turned once per input.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/RunLoop.h"
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
    bool finished = false;
    std::optional<Error> error;
    bool done() const { return finished || error.has_value(); }
};

// Runs one load on this thread's loop until it ends (a generous cap: a broken test, not a hang).
Outcome run(const Request& request) {
    auto outcome = std::make_shared<Outcome>();
    ConnectionHandlers h;
    h.didReceiveResponse = [outcome](const Response& r) { outcome->status = r.status; };
    h.didReceiveData = [outcome](const std::uint8_t*, std::size_t size) { outcome->bytes += size; };
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
