// The uploader against two recording servers: what is sent, and what the answers leave in the store.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "analytics/trackwell/UploaderThread.h"
#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/net/tests/NetTestSupport.h"
#include "tests/support/RecordingServer.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;

std::string answer(int status) {
    const char* reason = status == 200   ? "OK"
                         : status == 404 ? "Not Found"
                         : status == 408 ? "Request Timeout"
                         : status == 429 ? "Too Many Requests"
                                         : "Service Unavailable";
    return R"({"default": {"status": "HTTP/1.1 )" + std::to_string(status) + " " + reason + "\"}}";
}
const std::string kSilent = R"({"default": {"silent": true}})";
// A 200 whose head trickles in over 0.6 s and its body over 1.5 s more, and a 503 that comes whole
// in between: each answer is judged by its own status, not by the one heard last.
const std::string kSlowAccept =
    R"({"default": {"status": "HTTP/1.1 200 OK", "body": ")" + std::string(100, 'x') + R"(", "pause": 0.015}})";
const std::string kLateRefusal = R"({"default": {"status": "HTTP/1.1 503 Service Unavailable", "delay": 1.0}})";

// A store with staged blobs, two collectors (a recording server or a closed port each) and an
// uploader on a loop of its own clock.
struct Bench {
    dktest::TrackwellHome home;
    TrackwellDatabase db{home.places()};
    std::vector<std::unique_ptr<dktest::RecordingServer>> servers;
    std::vector<std::string> log;
    std::unique_ptr<RunLoop> loop;

    Bench(const std::vector<std::string>& scripts, Clock::Kind clock = Clock::Kind::Real) {
        loop = std::make_unique<RunLoop>(std::make_shared<Clock>(clock));
        dk::trackwell::setLogHook([this](std::string_view m) { log.emplace_back(m); });
        for (std::size_t i = 0; i < scripts.size(); ++i) {
            std::string url = dktest::refusedURL();
            if (!scripts[i].empty()) {
                servers.push_back(std::make_unique<dktest::RecordingServer>(home.dir.file("s" + std::to_string(i)),
                                                                            scripts[i]));
                EXPECT_TRUE(servers.back()->running());
                url = servers.back()->url();
            }
            plat::net::setServerBaseOverride("trackwell.collector." + std::to_string(i + 1), url);
        }
        db.addEventWithBlobString(R"({"e":1})");
        db.addHeaderWithSequenceNumber(1, R"({"h":1})");
        db.stageEventsForUpload(1);
        db.addEventWithBlobString(R"({"e":"unstaged"})");
    }
    ~Bench() {
        dk::trackwell::setLogHook(nullptr);
        for (const char* name : {"trackwell.collector.1", "trackwell.collector.2"}) plat::net::setServerBaseOverride(name, "");
    }
    bool finish(UploaderThread& uploader) {
        return dktest::runUntil(*loop, [&] { return !uploader.isUploading(); });
    }
};

// Each collector that answers gets one request, a second start meanwhile sending nothing: the
// headers pinned in upload-request.txt and a gzip body that inflates to the staged blobs (a row
// stored since the staging waits for an upload that stages it).
TEST(UploaderThread, AnswersDecideWhetherTheUploadIsDeleted) {
    struct Case {
        std::vector<std::string> scripts;  // empty: a closed port
        bool deleted;
    };
    const Case cases[] = {
        {{answer(200), ""}, true},
        {{answer(503), answer(503)}, false},
        {{answer(404), answer(503)}, true},
        // Busy or timed-out collectors have not taken the body: kept for the next upload.
        {{answer(429), answer(503)}, false},
        {{answer(408), answer(429)}, false},
        {{answer(429), answer(200)}, true},
        {{kSlowAccept, kLateRefusal}, true},
    };
    for (const Case& c : cases) {
        Bench bench(c.scripts);
        const std::string text = bench.db.uploadBlobString();
        UploaderThread uploader(bench.db, *bench.loop);
        uploader.uploaderThreadwithApplicationKey("key");
        EXPECT_TRUE(uploader.isUploading());
        uploader.uploaderThreadwithApplicationKey("key");
        EXPECT_EQ(bench.log.back(), UploaderThread::kAlreadyInProgress);
        ASSERT_TRUE(bench.finish(uploader));
        EXPECT_EQ(bench.db.uploadBlobString(), c.deleted ? R"([{"e":"unstaged"}])" : text) << c.scripts[0];
        std::string firstBody;
        for (auto& server : bench.servers) {
            server->stop();
            ASSERT_EQ(server->requestLines().size(), 1u);
            const std::string sent = server->connectionBytes(1);
            const std::size_t head = sent.find("\r\n\r\n") + 4;
            const std::string body = sent.substr(head);
            std::string expected = dktest::readFile(DK_TEST_DATA_DIR "/upload-request.txt");
            expected.replace(expected.find("PORT"), 4, std::to_string(server->port()));
            expected.replace(expected.find("LENGTH"), 6, std::to_string(body.size()));
            std::string headText = sent.substr(0, head);
            for (std::size_t at; (at = headText.find("\r\n")) != std::string::npos;) headText.replace(at, 2, "\n");
            EXPECT_EQ(headText, expected);
            EXPECT_EQ(body.substr(0, 2), "\x1f\x8b");
            EXPECT_EQ(dktest::gunzip(body), R"([{"h":1},{"e":1}])");
            if (firstBody.empty()) firstBody = body;
            EXPECT_EQ(body, firstBody);
        }
    }
}

// A collector's answer counts only when the collector itself gives it, final, with a status that
// takes the body: a redirect is not followed (a captive portal's 302 made the POST a GET of the
// portal, whose 200 deleted the events), and a 3xx, 1xx or a status past 599 keeps everything.
TEST(UploaderThread, OnlyTheCollectorsOwnAnswerDeliversTheUpload) {
    dktest::TempDir portalDir;
    dktest::RecordingServer portal(portalDir.file("portal"), answer(200));
    ASSERT_TRUE(portal.running());
    const auto raw = [](const std::string& status, const std::string& headers = "") {
        return R"({"default": {"status": "HTTP/1.1 )" + status + R"(", "headers": [)" + headers + "]}}";
    };
    const std::string toPortal = R"(["Location", ")" + portal.url() + R"(/login"])";
    struct Case {
        std::string script;
        bool deleted;
    };
    const Case cases[] = {
        {raw("302 Found", toPortal), false},
        {raw("307 Temporary Redirect", toPortal), false},
        {raw("301 Moved Permanently", R"(["Location", "/elsewhere"])"), false},
        {raw("302 Found"), false},
        {raw("302 Found", R"(["Location", "data:text/plain,taken"])"), false},
        {raw("300 Multiple Choices", toPortal), false},
        {raw("304 Not Modified"), false},
        {raw("999 Odd"), false},
        {raw("204 No Content"), true},
        {raw("201 Created"), true},
        {raw("404 Not Found"), true},
        {raw("410 Gone"), true},
        {raw("500 Internal Server Error"), false},
    };
    for (const Case& c : cases) {
        Bench bench({c.script, ""});
        const std::string text = bench.db.uploadBlobString();
        UploaderThread uploader(bench.db, *bench.loop);
        uploader.uploaderThreadwithApplicationKey("key");
        ASSERT_TRUE(bench.finish(uploader));
        EXPECT_EQ(bench.db.uploadBlobString(), c.deleted ? R"([{"e":"unstaged"}])" : text) << c.script;
        bench.servers[0]->stop();
        EXPECT_EQ(bench.servers[0]->requestLines().size(), 1u) << c.script;
    }
    portal.stop();
    EXPECT_TRUE(portal.requestLines().empty());
}

// Silent collectors are given up after 60 s of the loop's clock; on a virtual clock that takes no
// real time.
TEST(UploaderThread, SilentCollectorsTimeOutOnTheLoopsClock) {
    Bench bench({kSilent, kSilent}, Clock::Kind::Virtual);
    const std::string text = bench.db.uploadBlobString();
    UploaderThread uploader(bench.db, *bench.loop);
    uploader.uploaderThreadwithApplicationKey("key");
    // Without moving the clock, until both requests have arrived.
    dktest::turnWithClockStillUntil(*bench.loop, [&] {
        return bench.servers[0]->requestLines().size() + bench.servers[1]->requestLines().size() >= 2;
    });
    EXPECT_EQ(bench.loop->now(), 0.0);
    bench.loop->runFor(59);
    EXPECT_TRUE(uploader.isUploading());
    bench.loop->runFor(2);
    EXPECT_FALSE(uploader.isUploading());
    EXPECT_EQ(bench.db.uploadBlobString(), text);
    EXPECT_EQ(std::count(bench.log.begin(), bench.log.end(),
                         "Error Uploading.  Code: -1001,  Description: The request timed out."),
              2);
}

// A start from another thread is carried to the loop's thread, where the upload's requests, timer
// and answers live.
TEST(UploaderThread, AStartFromAnotherThreadRunsOnTheLoopsThread) {
    Bench bench({answer(200), answer(200)});
    UploaderThread uploader(bench.db, *bench.loop);
    std::thread::id began;
    dk::trackwell::setLogHook([&](std::string_view m) {
        if (m == UploaderThread::kBeginning) began = std::this_thread::get_id();
    });
    std::thread([&] { uploader.uploaderThreadwithApplicationKey("key"); }).join();
    ASSERT_TRUE(dktest::runUntil(*bench.loop, [&] { return began != std::thread::id() && !uploader.isUploading(); }));
    EXPECT_EQ(began, std::this_thread::get_id());
    EXPECT_EQ(bench.db.uploadBlobString(), R"([{"e":"unstaged"}])");
}

// A body that cannot be compressed is never sent: an empty one answered with a 4xx would count as
// delivered and delete the data.
TEST(UploaderThread, AnUploadThatCannotBeCompressedSendsNothing) {
    struct NoDeflate : UploaderThread {
        using UploaderThread::UploaderThread;
        std::optional<Data> gzipDeflatedDataWithData(const Data&) override { return std::nullopt; }
    };
    Bench bench({answer(404), answer(404)});
    const std::string text = bench.db.uploadBlobString();
    NoDeflate uploader(bench.db, *bench.loop);
    uploader.uploaderThreadwithApplicationKey("key");
    bench.loop->runFor(0.5);
    EXPECT_FALSE(uploader.isUploading());
    EXPECT_EQ(bench.db.uploadBlobString(), text);
    for (auto& server : bench.servers) {
        server->stop();
        EXPECT_TRUE(server->requestLines().empty());
    }
}

// Another process sharing the store adds a row between this one's staging and its upload: the
// upload sends only what it staged, and the row goes once, with the upload that stages it (sent
// along unstaged it was kept, and sent again).
TEST(UploaderThread, RowsStoredSinceTheStagingGoOnceWithTheirOwnUpload) {
    Bench bench({answer(200), ""});
    TrackwellDatabase other(bench.home.places());
    ASSERT_TRUE(other.addEventWithBlobString(R"({"e":"other"})"));
    UploaderThread uploader(bench.db, *bench.loop), otherUploader(other, *bench.loop);
    uploader.uploaderThreadwithApplicationKey("key");
    ASSERT_TRUE(bench.finish(uploader));

    int next = 0;
    ASSERT_TRUE(other.getNextUploadNumber(next));
    ASSERT_TRUE(other.addHeaderWithSequenceNumber(next, R"({"h":2})") && other.stageEventsForUpload(next));
    otherUploader.uploaderThreadwithApplicationKey("key");
    ASSERT_TRUE(bench.finish(otherUploader));
    EXPECT_EQ(other.eventCount(), 0);

    bench.servers[0]->stop();
    std::vector<std::string> bodies;
    for (const std::string& line : bench.servers[0]->requestLines()) bodies.push_back(dktest::inflatedBody(line));
    EXPECT_EQ(bodies, (std::vector<std::string>{R"([{"h":1},{"e":1}])", R"([{"h":2},{"e":"unstaged"},{"e":"other"}])"}));
}

// A delivered upload the store cannot delete yet (another connection holds its write lock past the
// busy time-out) keeps the claim and tries again on the loop's clock: let go at once, its rows were
// staged still and the next upload of any process sent them again.
TEST(UploaderThread, ADeliveredUploadKeepsItsClaimUntilItIsDeleted) {
    Bench bench({answer(200), ""}, Clock::Kind::Virtual);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(bench.home.storePath().c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    UploaderThread uploader(bench.db, *bench.loop);
    uploader.uploaderThreadwithApplicationKey("key");
    // Without moving the clock, until the answer has been taken in.
    const auto deferred = [&] {
        return std::count(bench.log.begin(), bench.log.end(), UploaderThread::kDeletionDeferred);
    };
    dktest::turnWithClockStillUntil(*bench.loop, [&] { return !uploader.isUploading() || deferred() != 0; });
    EXPECT_EQ(deferred(), 1);
    EXPECT_TRUE(uploader.isUploading());
    TrackwellDatabase other(bench.home.places());
    EXPECT_FALSE(other.claimUpload());

    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    bench.loop->runFor(UploaderThread::kDeletionRetryDelay);
    EXPECT_FALSE(uploader.isUploading());
    EXPECT_EQ(bench.db.uploadBlobString(), R"([{"e":"unstaged"}])");
    EXPECT_TRUE(other.claimUpload());
    other.releaseUpload();
    bench.servers[0]->stop();
    EXPECT_EQ(bench.servers[0]->requestLines().size(), 1u);
}

TEST(UploaderThread, GzipOfLongTextInflatesBack) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    RunLoop loop(std::make_shared<Clock>(Clock::Kind::Virtual));
    UploaderThread uploader(db, loop);
    std::string text;
    for (std::uint32_t i = 0; text.size() < 200000; ++i) text += std::to_string(i * 2654435761u);
    std::optional<UploaderThread::Data> gzip = uploader.gzipDeflatedDataWithData({text.begin(), text.end()});
    ASSERT_TRUE(gzip && gzip->size() > 16384);
    EXPECT_EQ(dktest::gunzip(std::string(gzip->begin(), gzip->end())), text);
    EXPECT_EQ(uploader.gzipDeflatedDataWithData({}), UploaderThread::Data{});
}

}  // namespace

namespace {

// The built-in placeholder collectors never resolve: the upload fails at once, in the call,
// leaving nothing in flight and everything stored.
TEST(UploaderThread, CollectorsUnderInvalidFailAtOnce) {
    Bench bench({});
    for (const char* name : {"trackwell.collector.1", "trackwell.collector.2"})
        plat::net::setServerBaseOverride(name, "http://collector.trackwell.INVALID.:8888");
    const std::string text = bench.db.uploadBlobString();
    UploaderThread uploader(bench.db, *bench.loop);
    uploader.uploaderThreadwithApplicationKey("key");
    EXPECT_FALSE(uploader.isUploading());
    EXPECT_EQ(bench.db.uploadBlobString(), text);
    EXPECT_EQ(std::count(bench.log.begin(), bench.log.end(),
                         "Error Uploading.  Code: -1003,  Description: A server with the specified hostname could not be found."),
              2);
}

}  // namespace
