// The hit store's put against raw SQLite inserts of the same hit strings, in one run.
//   bench_analytics_hits [DIR] [ROUNDS]   (default: /dev/shm when present, else /tmp; 20 rounds)
// A round fills the queue to its cap (1,000 page views carrying one custom variable) and then
// deletes every hit one by one, as the dispatcher does; the raw side inserts the same strings,
// each in its own transaction, and deletes them likewise. Rounds of the two alternate, so load
// changes on a shared machine hit both alike; each figure is the median round. On tmpfs a commit
// costs no disk flush, so the figures compare the statements a put runs.
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "analytics/pagestats/PSPersistentHitStore.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kHits = static_cast<int>(PSPersistentHitStore::kMaxStoredHits);

double secondsOf(const std::function<void()>& body) {
    auto start = Clock::now();
    body();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "bench_analytics_hits: %s: %s\n", sql, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// The raw side: the hits table alone, a statement per step as a plain client would write it.
struct Raw {
    sqlite3* db = nullptr;
    sqlite3_stmt *begin = nullptr, *commit = nullptr, *insert = nullptr, *remove = nullptr;
    explicit Raw(const std::string& path) {
        sqlite3_open(path.c_str(), &db);
        exec(db, "CREATE TABLE IF NOT EXISTS hits ( 'hit_id' INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                 "'hit_string' TEXT NOT NULL);");
        sqlite3_prepare_v2(db, "BEGIN TRANSACTION;", -1, &begin, nullptr);
        sqlite3_prepare_v2(db, "END TRANSACTION;", -1, &commit, nullptr);
        sqlite3_prepare_v2(db, "INSERT INTO hits (hit_string) VALUES (?);", -1, &insert, nullptr);
        sqlite3_prepare_v2(db, "DELETE FROM hits WHERE hit_id = ?;", -1, &remove, nullptr);
    }
    ~Raw() {
        for (sqlite3_stmt* stmt : {begin, commit, insert, remove}) sqlite3_finalize(stmt);
        sqlite3_close(db);
    }
    static void run(sqlite3_stmt* stmt) {
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    }
    void fill(const std::vector<std::string>& hits) {
        for (const std::string& hit : hits) {
            run(begin);
            sqlite3_bind_text(insert, 1, hit.data(), static_cast<int>(hit.size()), SQLITE_STATIC);
            run(insert);
            run(commit);
        }
    }
    void drain() {
        std::vector<sqlite3_int64> ids;
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT hit_id FROM hits ORDER BY hit_id", -1, &select, nullptr);
        while (sqlite3_step(select) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(select, 0));
        sqlite3_finalize(select);
        for (sqlite3_int64 id : ids) {
            sqlite3_bind_int64(remove, 1, id);
            run(remove);
        }
    }
};

void fillStore(PSPersistentHitStore& store, std::vector<std::string>* strings) {
    for (int i = 0; i < kHits; ++i) {
        PSEvent page(std::string(kPSPageviewEventCategory), "/level/" + std::to_string(i % 40) + "/start",
                     std::nullopt, -1);
        page.customVariableBuffer.emplace();
        page.customVariableBuffer->addCustomVariable(PSCustomVariable(1, "Model", "iPhone_4S", kPSSessionScope));
        std::optional<PSHit> stored;
        if (!store.putEvent(page, nullptr, true, &stored)) {
            std::fprintf(stderr, "bench_analytics_hits: put %d failed\n", i);
            std::exit(1);
        }
        if (strings) strings->push_back(stored->hitString());
    }
}

void drainStore(PSPersistentHitStore& store) {
    const std::optional<std::vector<PSHit>> hits = store.peekHits(-1);
    for (const PSHit& hit : *hits) store.deleteHit(hit.hitId());
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const fs::path dir = fs::path(base) / ("bench_analytics_hits." + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string storePath = (dir / "pagestats.sql").string(), rawPath = (dir / "raw.sql").string();

    auto builder = std::make_shared<PSHitBuilder>(PSHitBuilder::Device{320, 480, "en", "us"});
    builder->setAccountID("UA-12345-6");
    PSPersistentHitStore store(builder, storePath);
    Raw raw(rawPath);

    // The first fill gives the strings the raw side writes, and the file sizes of a refill.
    std::vector<std::string> strings;
    const double firstFill = secondsOf([&] { fillStore(store, &strings); });
    const auto firstSize = static_cast<double>(fs::file_size(storePath));
    drainStore(store);
    fillStore(store, nullptr);
    const auto refillSize = static_cast<double>(fs::file_size(storePath));
    drainStore(store);
    (void)firstFill;

    std::vector<double> putSeconds, rawSeconds, putDrain, rawDrain;
    double putBytes = 0, rawBytes = 0;
    for (int round = 0; round < rounds; ++round) {
        putSeconds.push_back(secondsOf([&] { fillStore(store, nullptr); }));
        putBytes = static_cast<double>(fs::file_size(storePath));
        putDrain.push_back(secondsOf([&] { drainStore(store); }));
        rawSeconds.push_back(secondsOf([&] { raw.fill(strings); }));
        rawBytes = static_cast<double>(fs::file_size(rawPath));
        rawDrain.push_back(secondsOf([&] { raw.drain(); }));
    }
    const double putRate = kHits / median(putSeconds), rawRate = kHits / median(rawSeconds);
    std::printf("hit store in %s, %d rounds of %d hits (hit string %zu bytes)\n", base.c_str(), rounds, kHits,
                strings.front().size());
    std::printf("  putEvent:     %9.0f hits/s  %6.1f bytes/hit  (delete %9.0f hits/s)\n", putRate, putBytes / kHits,
                kHits / median(putDrain));
    std::printf("  raw inserts:  %9.0f hits/s  %6.1f bytes/hit  (delete %9.0f hits/s)\n", rawRate, rawBytes / kHits,
                kHits / median(rawDrain));
    std::printf("  put / raw:    %9.2fx  (target >= 0.5x)\n", putRate / rawRate);
    std::printf("  file after a fill: %.0f bytes; after deleting all and filling again: %.0f bytes (%.2fx, target <= "
                "1.1x)\n",
                firstSize, refillSize, refillSize / firstSize);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
