// The metrics session's cost per tagged event beside the floor: raw SQLite inserts of the same
// blob texts into the same schema and settings (one prepared statement, one autocommit insert
// each). Then the store's size over ten rounds of 1,000 events, each followed by an accepted upload.
//
//   bench_analytics_metrics [--dir DIR] [--events N]
//
// DIR defaults to /dev/shm where it exists: every insert commits, and on a disk the fsync of each
// commit is the same for both sides and hides what the session adds.
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellSession.h"
#include "analytics/trackwell/UploaderThread.h"
#include "platform/foundation/RunLoop.h"

namespace {

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// A session over a fresh store in `dir`, its key set and a session open.
struct Bed {
    TrackwellDatabase db;
    UploaderThread uploader{db, plat::foundation::RunLoop::main()};
    TrackwellSession session{db, uploader, TrackwellSession::Host{}};
    explicit Bed(const std::string& dir) : db(TrackwellDatabase::Places{dir + "/Documents", dir + "/Library/Caches"}) {
        session.initialize("bench-key-1");
        session.open();
    }
};

const TrackwellSession::Attributes kAttributes = {{"ps", "menu"}, {"ns", "level-1"}, {"coins", 42.0}};

// The raw side: the store's schema, its default settings and busy time-out, one insert a commit.
double rawInserts(const std::string& path, const std::vector<std::string>& blobs) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_busy_timeout(db, 30);
    sqlite3_exec(db,
                 "BEGIN;"
                 "CREATE TABLE upload_headers (sequence_number INTEGER PRIMARY KEY, blob_string TEXT);"
                 "CREATE TABLE events (event_id INTEGER PRIMARY KEY AUTOINCREMENT, upload_header INTEGER, "
                 "blob_string TEXT NOT NULL);"
                 "CREATE TABLE trackwell_info (schema_version INTEGER PRIMARY KEY, last_upload_number INTEGER, "
                 "last_session_number INTEGER, opt_out BOOLEAN, last_close_event INTEGER, last_flow_event INTEGER, "
                 "last_session_start REAL, install_id CHAR(40), custom_d0 CHAR(64), custom_d1 CHAR(64), "
                 "custom_d2 CHAR(64), custom_d3 CHAR(64) );"
                 "INSERT INTO trackwell_info (schema_version, last_upload_number, last_session_number, opt_out) "
                 "VALUES (2, 0, 0, 0);"
                 "COMMIT;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO events (blob_string) VALUES (?)", -1, &insert, nullptr);
    const double start = seconds();
    for (const std::string& blob : blobs) {
        sqlite3_bind_text(insert, 1, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    const double elapsed = seconds() - start;
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return elapsed;
}

std::vector<std::string> eventBlobs(TrackwellDatabase& db) {
    std::vector<std::string> blobs;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db.connection(), "SELECT blob_string FROM events WHERE blob_string LIKE '{\"dt\":\"e\"%' ORDER BY event_id",
                       -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) blobs.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return blobs;
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    int events = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--dir")) base = argv[i + 1];
        if (!std::strcmp(argv[i], "--events")) events = std::atoi(argv[i + 1]);
    }
    std::string dir = base + "/bench_analytics_metrics.XXXXXX";
    if (!mkdtemp(dir.data())) {
        std::perror(dir.c_str());
        return 1;
    }

    std::vector<std::string> blobs;
    double tagging = 0;
    long long storeBytes = 0;
    {
        Bed bed(dir + "/tag");
        const double start = seconds();
        for (int i = 0; i < events; ++i) bed.session.tagEvent("sceneChange", kAttributes);
        tagging = seconds() - start;
        storeBytes = fileSize(bed.db.path());
        blobs = eventBlobs(bed.db);
    }
    const std::string rawPath = dir + "/raw.sqlite";
    const double raw = rawInserts(rawPath, blobs);
    const long long rawBytes = fileSize(rawPath);
    std::printf("%d events with a three-attribute dictionary, in %s\n", events, base.c_str());
    std::printf("  tagEvent      %9.0f events/s  %6.1f store bytes/event\n", events / tagging,
                static_cast<double>(storeBytes) / events);
    std::printf("  raw inserts   %9.0f events/s  %6.1f store bytes/event\n", events / raw,
                static_cast<double>(rawBytes) / events);
    std::printf("  ratio         %9.2fx rate     %6.2fx size\n", raw / tagging,
                static_cast<double>(storeBytes) / static_cast<double>(rawBytes));

    // A session a round, as the player's background and foreground make them (within one session
    // the flow blob's list of uploaded entries grows with every upload).
    {
        Bed bed(dir + "/rounds");
        long long first = 0, size = 0;
        for (int round = 1; round <= 10; ++round) {
            if (round > 1) bed.session.open();
            for (int i = 0; i < 1000; ++i) bed.session.tagEvent("sceneChange", kAttributes);
            bed.session.close();
            bed.session.upload();       // stages; the built-in collectors fail at once
            bed.db.deleteUploadData();  // what an accepted upload does
            size = fileSize(bed.db.path());
            if (round == 1) first = size;
        }
        std::printf("store after 1 round of 1,000 events and an accepted upload: %lld bytes; after 10: %lld (%.2fx)\n",
                    first, size, static_cast<double>(size) / static_cast<double>(first));
    }
    std::filesystem::remove_all(dir);
    return 0;
}
