// The session's state machine on the process's virtual clock, and its blobs read back strictly.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "analytics/trackwell/TrackwellSession.h"
#include "analytics/trackwell/UploaderThread.h"
#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/net/tests/NetTestSupport.h"

namespace {

using plat::foundation::Clock;
using plat::foundation::RunLoop;

// A session over a store of its own; the collectors refuse; time moves only when told to.
struct SessionBed {
    dktest::TrackwellHome home;
    std::unique_ptr<TrackwellDatabase> db;
    std::unique_ptr<UploaderThread> uploader;
    std::unique_ptr<TrackwellSession> session;
    std::vector<std::string> log;

    SessionBed() {
        static const bool virtualClock = (Clock::process().startVirtualAt(0), true);
        (void)virtualClock;
        dk::trackwell::setStartWallTime(1700000000 - Clock::process().now());
        dk::trackwell::setLogHook([this](std::string_view m) { log.emplace_back(m); });
        for (const char* name : {"trackwell.collector.1", "trackwell.collector.2"})
            plat::net::setServerBaseOverride(name, dktest::refusedURL());
        db = std::make_unique<TrackwellDatabase>(home.places());
        uploader = std::make_unique<UploaderThread>(*db, RunLoop::main());
        session = std::make_unique<TrackwellSession>(*db, *uploader, TrackwellSession::Host{});
        session->initialize("key-1");
    }
    ~SessionBed() { dk::trackwell::setLogHook(nullptr); }
    void wait(double seconds) { RunLoop::main().runFor(seconds); }
    void upload() {
        session->upload();
        ASSERT_TRUE(dktest::runUntil(RunLoop::main(), [&] { return !uploader->isUploading(); }));
    }
    // The stored blobs in order, each as "<dt> <member>" for the members asked for.
    std::vector<std::string> blobs(const std::vector<std::string>& members = {}) {
        std::vector<std::string> out;
        for (const std::string& blob : dktest::rows(db->connection(), "SELECT blob_string FROM events ORDER BY event_id")) {
            dktest::JsonDoc doc(blob);
            std::string line = dktest::text(dktest::member(doc.root(), "dt"));
            for (const std::string& m : members) line += " " + dktest::text(dktest::member(doc.root(), m));
            out.push_back(line);
        }
        return out;
    }
};

// Within 15 s a resume takes the close back and the session goes on (the next close covers it
// all); later it opens the next session.
TEST(TrackwellSession, ResumeReopensWithinTheWindowAndOpensANewSessionAfterIt) {
    SessionBed bed;
    bed.session->open();
    const std::string start = bed.blobs({"ct"})[0];
    bed.wait(3);
    bed.session->close();
    bed.wait(10);
    bed.session->resume();
    EXPECT_TRUE(bed.session->isSessionOpen());
    EXPECT_EQ(bed.blobs({"nth"}), (std::vector<std::string>{"s 1"}));
    bed.wait(2);
    bed.session->close();
    EXPECT_EQ(bed.blobs({"ss", "ctl"}), (std::vector<std::string>{"s <absent> <absent>", "c " + start.substr(2) + " 15"}));
    bed.wait(20);
    bed.session->resume();
    EXPECT_EQ(bed.blobs({"nth"}).back(), "s 2");
    EXPECT_EQ(bed.log.back(), "Succesfully opened session. UUID is: " + *bed.session->sessionUUID());
}

TEST(TrackwellSession, AThousandStoredEventsKeepTheSessionShut) {
    SessionBed bed;
    bed.db->beginTransaction("fill");
    for (int i = 0; i < TrackwellSession::kMaximumStoredEvents; ++i) bed.db->addEventWithBlobString("{}");
    bed.db->releaseTransaction("fill");
    bed.session->open();
    EXPECT_FALSE(bed.session->isSessionOpen());
    EXPECT_EQ(bed.log.back(), "Maximum number of events stored in database. Session not opened.");
    EXPECT_FALSE(bed.session->tagEvent("late"));
    EXPECT_EQ(bed.db->eventCount(), TrackwellSession::kMaximumStoredEvents);
}

// A close that writes no flow blob, undone by a resume, must leave the flow blob an earlier upload
// wrote (and failed to deliver) where it is.
TEST(TrackwellSession, AResumeKeepsTheFlowBlobOfAnEarlierUpload) {
    SessionBed bed;
    bed.session->open();
    bed.session->tagEvent("e1");
    bed.upload();
    bed.session->close();
    bed.wait(5);
    bed.session->resume();
    EXPECT_EQ(bed.blobs({"nw"}), (std::vector<std::string>{"s <absent>", "e <absent>", "f <container>"}));
}

// An opt change is its blob and its flag together: a flag the store refuses takes the blob back,
// and the session stays as it was.
TEST(TrackwellSession, AnOptChangeTheStoreRefusesLeavesNoTrace) {
    SessionBed bed;
    bed.session->open();
    ASSERT_TRUE(dktest::execSql(bed.home.storePath(),
                                "CREATE TRIGGER refuse BEFORE UPDATE OF opt_out ON trackwell_info "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    bed.session->setOptIn(false);
    EXPECT_EQ(bed.log.back(), "Failed to update opt state.");
    EXPECT_TRUE(bed.session->isOptedIn());
    EXPECT_TRUE(bed.session->isSessionOpen());
    EXPECT_EQ(bed.blobs(), std::vector<std::string>{"s"});
}

// Random names, attributes, screens and dimensions with quotes, controls and other scripts: the
// uploaded array reads strictly and gives back exactly what was tagged.
TEST(TrackwellSession, UploadedBlobsDecodeToWhatWasTagged) {
    const std::vector<std::string> fragments = {"a", "Z", "7", " ", "\"", "\\", "\n", "\t", "\x01", "\x1f", "/", "{",
                                             "\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x8e\xae", ",", ":", "]"};
    std::mt19937 random(33);
    auto word = [&] {
        std::string w;
        for (int n = std::uniform_int_distribution<int>(1, 8)(random); n > 0; --n)
            w += fragments[std::uniform_int_distribution<std::size_t>(0, fragments.size() - 1)(random)];
        return w;
    };
    for (int round = 0; round < 12; ++round) {
        SessionBed bed;
        std::string dimension[4];
        for (int slot = 0; slot < 4; ++slot) bed.session->setCustomDimension(slot, dimension[slot] = word());
        bed.session->open();
        const std::string name = word(), screen = word();
        TrackwellSession::Attributes attributes, report;
        for (int i = 0; i < 4; ++i) attributes.emplace(word(), i % 2 ? TrackwellSession::AttributeValue(word()) : 1.5 * i);
        report.emplace(word(), true);
        ASSERT_TRUE(bed.session->tagEvent(name, attributes, report));
        bed.session->tagScreen(screen);
        bed.session->close();
        bed.upload();

        const std::string text = bed.db->uploadBlobString();
        dktest::JsonDoc upload(text);
        ASSERT_EQ(upload.error(), "") << text;
        yajl_val event = nullptr, close = nullptr;
        for (std::size_t i = 0; i < upload.root()->u.array.len; ++i) {
            yajl_val blob = upload.root()->u.array.values[i];
            const std::string dt = dktest::text(dktest::member(blob, "dt"));
            if (dt == "e") event = blob;
            if (dt == "c") close = blob;
            for (int slot = 0; slot < 4 && dt != "h" && dt != "f"; ++slot)
                EXPECT_EQ(dktest::text(dktest::member(blob, "c" + std::to_string(slot))), dimension[slot]);
        }
        ASSERT_TRUE(event && close);
        EXPECT_EQ(dktest::text(dktest::member(event, "n")), name);
        yajl_val attrs = dktest::member(event, "attrs");
        ASSERT_EQ(dktest::keys(attrs).size(), attributes.size());
        for (std::size_t i = 0; i < attributes.size(); ++i) {
            EXPECT_EQ(dktest::keys(attrs)[i], attributes[i].first);
            EXPECT_EQ(dktest::text(attrs->u.object.values[i]), dk::trackwell::describe(attributes[i].second));
        }
        EXPECT_EQ(dktest::text(dktest::member(dktest::member(event, "rattrs"), report[0].first)), "1");
        yajl_val screens = dktest::member(close, "fl");
        ASSERT_TRUE(YAJL_IS_ARRAY(screens) && screens->u.array.len == 1);
        EXPECT_EQ(dktest::text(screens->u.array.values[0]), screen);
    }
}

}  // namespace
