// The metrics store: its file and schema, opening what earlier runs left, staging and deletion.
#include <gtest/gtest.h>

#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "analytics/trackwell/tests/TrackwellTestSupport.h"

namespace {

using dktest::rows;
using Rows = std::vector<std::string>;

const char* kVersion1Schema =
    "CREATE TABLE upload_headers (sequence_number INTEGER PRIMARY KEY, blob_string TEXT);"
    "CREATE TABLE events (event_id INTEGER PRIMARY KEY AUTOINCREMENT, upload_header INTEGER, blob_string TEXT NOT "
    "NULL);"
    "CREATE TABLE trackwell_info (schema_version INTEGER PRIMARY KEY, last_upload_number INTEGER, "
    "last_session_number INTEGER, opt_out BOOLEAN, last_close_event INTEGER, last_flow_event INTEGER, "
    "last_session_start REAL);"
    "INSERT INTO trackwell_info (schema_version, last_upload_number, last_session_number, opt_out) VALUES (1, 4, 7, 0);"
    "INSERT INTO events (blob_string) VALUES ('{\"old\":1}');";

Rows events(TrackwellDatabase& db) {
    return rows(db.connection(), "SELECT event_id, upload_header, blob_string FROM events ORDER BY event_id");
}

TEST(TrackwellDatabase, AFreshStoreHoldsTheSchemaAndOneInfoRow) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    ASSERT_TRUE(db.isOpen());
    EXPECT_EQ(db.path(), home.dir.path() + "/Library/Caches/.trackwell/trackwell.sqlite");
    EXPECT_EQ(db.schemaVersion(), 2);
    Rows found = rows(home.storePath(), "SELECT type, name, sql FROM sqlite_master ORDER BY rowid");
    for (const std::string& row : rows(home.storePath(), "SELECT * FROM trackwell_info")) found.push_back("info|" + row);
    std::string text;
    for (const std::string& row : found) text += row + "\n";
    EXPECT_EQ(text, dktest::readFile(DK_TEST_DATA_DIR "/schema.txt"));
    EXPECT_EQ(db.uploadBlobString(), "");
}

TEST(TrackwellDatabase, TheVersion1UpgradeKeepsRowsAndCounters) {
    dktest::TrackwellHome home;
    std::filesystem::create_directories(home.dir.path() + "/Library/Caches/.trackwell");
    ASSERT_TRUE(dktest::execSql(home.storePath(), kVersion1Schema));
    TrackwellDatabase db(home.places());
    EXPECT_EQ(events(db), (Rows{"1|NULL|{\"old\":1}"}));
    int next = 0;
    EXPECT_TRUE(db.getNextUploadNumber(next));
    EXPECT_EQ(next, 5);
    EXPECT_TRUE(db.setCustomDimension(3, "d3"));
    EXPECT_EQ(db.customDimension(3), "d3");
    EXPECT_EQ(db.installId(), std::nullopt);
}

// A store of an earlier version under Documents moves to Caches as a whole; a transaction a killed
// process left in its journal is rolled back by the first open at the new place.
TEST(TrackwellDatabase, AStoreUnderDocumentsMovesWithItsHotJournal) {
    for (bool hotJournal : {false, true}) {
        dktest::TrackwellHome home;
        std::filesystem::create_directories(home.oldDirectory());
        const std::string oldStore = home.oldDirectory() + "/trackwell.sqlite";
        {
            TrackwellDatabase::Places oldPlaces{"", home.dir.path() + "/Documents"};
            TrackwellDatabase db(oldPlaces);
            ASSERT_EQ(db.path(), oldStore);
            ASSERT_TRUE(db.addEventWithBlobString("kept"));
        }
        if (hotJournal) {
            // A child writes past its page cache inside a transaction and dies before committing.
            pid_t child = fork();
            if (child == 0) {
                sqlite3* raw = nullptr;
                sqlite3_open(oldStore.c_str(), &raw);
                sqlite3_exec(raw,
                             "PRAGMA cache_size=1; BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                             "WHERE i<2000) INSERT INTO events (blob_string) SELECT hex(randomblob(300)) FROM n;",
                             nullptr, nullptr, nullptr);
                _exit(0);
            }
            int status;
            waitpid(child, &status, 0);
            ASSERT_TRUE(dktest::exists(oldStore + "-journal"));
        }
        TrackwellDatabase db(home.places());
        EXPECT_FALSE(dktest::exists(home.oldDirectory()));
        EXPECT_EQ(rows(db.connection(), "PRAGMA integrity_check"), (Rows{"ok"})) << hotJournal;
        EXPECT_EQ(events(db), (Rows{"1|NULL|kept"})) << hotJournal;
    }
}

TEST(TrackwellDatabase, AFileThatIsNoDatabaseIsSetAsideAndTheStoreMadeAnew) {
    dktest::TrackwellHome home;
    std::filesystem::create_directories(home.dir.path() + "/Library/Caches/.trackwell");
    const std::string garbage(3000, 'x');
    dktest::writeFile(home.storePath(), garbage);
    {
        TrackwellDatabase db(home.places());
        EXPECT_EQ(db.schemaVersion(), 2);
        EXPECT_TRUE(db.addEventWithBlobString("e"));
        EXPECT_EQ(db.eventCount(), 1);
    }
    EXPECT_TRUE(dktest::readFile(home.storePath() + ".corrupt") == garbage);
    TrackwellDatabase again(home.places());
    EXPECT_EQ(again.eventCount(), 1);
}

// A store damaged a second time keeps the first damaged copy: they are numbered as the user
// defaults' ".bad" files are, and each line names the copy it made.
TEST(TrackwellDatabase, EveryDamagedStoreIsKeptAside) {
    dktest::TrackwellHome home;
    std::filesystem::create_directories(home.dir.path() + "/Library/Caches/.trackwell");
    std::vector<std::string> said;
    dk::trackwell::setLogHook([&](std::string_view line) { said.emplace_back(line); });
    const std::string damaged[] = {std::string(3000, 'x'), std::string(3000, 'y')};
    for (const std::string& garbage : damaged) {
        dktest::writeFile(home.storePath(), garbage);
        TrackwellDatabase db(home.places());
        EXPECT_TRUE(db.addEventWithBlobString("e"));
    }
    dk::trackwell::setLogHook(nullptr);
    EXPECT_TRUE(dktest::readFile(home.storePath() + ".corrupt") == damaged[0]);
    EXPECT_TRUE(dktest::readFile(home.storePath() + ".corrupt.2") == damaged[1]);
    EXPECT_EQ(said, (std::vector<std::string>{"Metrics store is damaged; moved to " + home.storePath() + ".corrupt",
                                              "Metrics store is damaged; moved to " + home.storePath() + ".corrupt.2"}));
}

// Damage past the first page, whether a statement meets it while the store is open or the next
// start does, sets the file aside once (saying so) and the store starts anew; kept, every upload
// failed at staging for ever.
TEST(TrackwellDatabase, DamagePastTheFirstPageIsHealed) {
    for (const bool whileOpen : {true, false}) {
        SCOPED_TRACE(whileOpen ? "while open" : "at the next start");
        dktest::TrackwellHome home;
        std::vector<std::string> said;
        dk::trackwell::setLogHook([&](std::string_view line) {
            if (line.find("damaged") != std::string_view::npos) said.emplace_back(line);
        });
        {
            TrackwellDatabase db(home.places());
            for (int i = 0; i < 200; ++i) ASSERT_TRUE(db.addEventWithBlobString(std::string(100, 'a' + i % 26)));
        }
        auto db = std::make_unique<TrackwellDatabase>(home.places());
        if (whileOpen) {
            ASSERT_EQ(db->eventCount(), 200);
            dktest::damagePastFirstPage(home.storePath());
            EXPECT_EQ(db->uploadBlobString(), "");  // met here: no text, and nothing kept damaged
        } else {
            db.reset();
            dktest::damagePastFirstPage(home.storePath());
            db = std::make_unique<TrackwellDatabase>(home.places());
        }
        EXPECT_TRUE(db->addEventWithBlobString("after"));
        int n = 0;
        ASSERT_TRUE(db->getNextUploadNumber(n));
        ASSERT_TRUE(db->addHeaderWithSequenceNumber(n, "H"));
        ASSERT_TRUE(db->stageEventsForUpload(n));
        EXPECT_EQ(db->uploadBlobString(), "[H,after]");
        EXPECT_EQ(db->schemaVersion(), 2);
        EXPECT_TRUE(dktest::exists(home.storePath() + ".corrupt"));
        EXPECT_EQ(said.size(), 1u);
        dk::trackwell::setLogHook(nullptr);
    }
}

// A store another connection holds locked is busy, not damaged: nothing is set aside.
TEST(TrackwellDatabase, ABusyStoreIsLeftAlone) {
    dktest::TrackwellHome home;
    {
        TrackwellDatabase db(home.places());
        ASSERT_TRUE(db.addEventWithBlobString("kept"));
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(home.storePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    {
        TrackwellDatabase busy(home.places());
        EXPECT_EQ(busy.eventCount(), 0);
    }
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_FALSE(dktest::exists(home.storePath() + ".corrupt"));
    TrackwellDatabase db(home.places());
    EXPECT_EQ(events(db), (Rows{"1|NULL|kept"}));
}

// A commit refused while another connection reads is rolled back: left open, it would hold every
// later write in a transaction that is never committed.
TEST(TrackwellDatabase, ACommitThatFailsLeavesNoTransactionOpen) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(home.storePath().c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM events", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_TRUE(db.beginTransaction("t"));
    ASSERT_TRUE(db.addEventWithBlobString("refused"));
    EXPECT_FALSE(db.releaseTransaction("t"));
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    ASSERT_TRUE(db.addEventWithBlobString("later"));
    EXPECT_EQ(rows(home.storePath(), "SELECT blob_string FROM events"), Rows{"later"});
}

TEST(TrackwellDatabase, AFailedUploadReusesItsHeaderNumber) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    for (const char* blob : {"e1", "e2"}) ASSERT_TRUE(db.addEventWithBlobString(blob));
    int n = 0;
    ASSERT_TRUE(db.getNextUploadNumber(n));
    ASSERT_EQ(n, 1);
    ASSERT_TRUE(db.addHeaderWithSequenceNumber(n, "H1"));
    ASSERT_TRUE(db.stageEventsForUpload(n));
    EXPECT_EQ(db.unstagedEventCount(), 0);
    // The upload failed: nothing was deleted, so the next one takes the same number.
    ASSERT_TRUE(db.addEventWithBlobString("e3"));
    ASSERT_TRUE(db.getNextUploadNumber(n));
    ASSERT_EQ(n, 1);
    std::int64_t rowId = 0;
    EXPECT_TRUE(db.addHeaderWithSequenceNumber(n, "H1-again", &rowId));
    EXPECT_EQ(rowId, 1);
    ASSERT_TRUE(db.addEventWithBlobString("late"));  // unstaged: sorts first
    EXPECT_EQ(db.unstagedEventCount(), 2);
    EXPECT_EQ(db.uploadBlobString(), "[e3,late,H1,e1,e2]");
    ASSERT_TRUE(db.stageEventsForUpload(n));
    EXPECT_EQ(db.uploadBlobString(), "[H1,e1,e2,e3,late]");

    ASSERT_TRUE(db.addEventWithBlobString("after"));
    ASSERT_TRUE(db.deleteUploadData());
    EXPECT_EQ(db.uploadBlobString(), "[after]");
    EXPECT_EQ(rows(db.connection(), "SELECT count(*) FROM upload_headers"), (Rows{"0"}));
    ASSERT_TRUE(db.getNextUploadNumber(n));
    EXPECT_EQ(n, 2);
}

// Rows of one header leave in the order they were stored, whatever order SQLite scans them in.
TEST(TrackwellDatabase, EventsOfOneHeaderKeepTheirOrder) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    std::string expected = "[H";
    for (int i = 0; i < 20; ++i) {
        std::string blob = "e" + std::to_string(i);
        ASSERT_TRUE(db.addEventWithBlobString(blob));
        expected += "," + blob;
    }
    ASSERT_TRUE(db.addHeaderWithSequenceNumber(1, "H"));
    ASSERT_TRUE(db.stageEventsForUpload(1));
    sqlite3_exec(db.connection(), "PRAGMA reverse_unordered_selects = 1", nullptr, nullptr, nullptr);
    EXPECT_EQ(db.uploadBlobString(), expected + "]");
}

TEST(TrackwellDatabase, HeadersWithoutBlobsGiveNoText) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    ASSERT_EQ(sqlite3_exec(db.connection(), "INSERT INTO upload_headers VALUES (1, NULL)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(db.uploadBlobString(), "");
}

TEST(TrackwellDatabase, CustomDimensionsHaveFourSlots) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    for (int slot : {0, 1, 2, 3}) {
        EXPECT_EQ(db.customDimension(slot), std::nullopt) << slot;
        EXPECT_TRUE(db.setCustomDimension(slot, "v" + std::to_string(slot))) << slot;
        EXPECT_EQ(db.customDimension(slot), "v" + std::to_string(slot)) << slot;
    }
    EXPECT_TRUE(db.setCustomDimension(1, std::nullopt));
    EXPECT_EQ(db.customDimension(1), std::nullopt);
    for (int slot : {-1, 4}) {
        EXPECT_FALSE(db.setCustomDimension(slot, "x")) << slot;
        EXPECT_EQ(db.customDimension(slot), std::nullopt) << slot;
    }
    EXPECT_EQ(rows(db.connection(), "SELECT custom_d0, custom_d1, custom_d2, custom_d3 FROM trackwell_info"),
              (Rows{"v0|NULL|v2|v3"}));
}

TEST(TrackwellDatabase, RemovingTheLastCloseTakesItsFlowAlong) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    ASSERT_TRUE(db.addCloseEventWithBlobString("close1"));
    ASSERT_TRUE(db.addEventWithBlobString("event"));
    ASSERT_TRUE(db.addCloseEventWithBlobString("close2"));
    ASSERT_TRUE(db.addFlowEventWithBlobString("flow2"));
    ASSERT_TRUE(db.removeLastCloseAndFlowEvents());
    EXPECT_EQ(db.uploadBlobString(), "[close1,event]");
}

// The birth time, or the time first seen: never the modification time, which every write moves.
TEST(TrackwellDatabase, CreationTimeIsNotTheModificationTime) {
    dktest::TrackwellHome home;
    TrackwellDatabase db(home.places());
    const double created = db.createdTimestamp();
    const timeval longAgo[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(utimes(home.storePath().c_str(), longAgo), 0);
    EXPECT_EQ(db.createdTimestamp(), created);
    EXPECT_GT(created, 1e9);
}

}  // namespace
