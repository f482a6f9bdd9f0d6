// dk-analytics-cli as a whole program: its command language, and its store under kill -9.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-analytics-cli/dk-analytics-cli";

// The upload goes nowhere: both collectors are ports where nothing listens, named for the run.
TEST(AnalyticsCli, CommandFileGivesItsExpectedLines) {
    dktest::TempDir home;
    dktest::ProcessResult result =
        dktest::runProcess({kCli, "--home", home.path(), "--start-time", "1700000000", "--endpoint",
                            "trackwell.collector.1=http://127.0.0.1:9", "--endpoint=trackwell.collector.2=http://127.0.0.1:9",
                            "--commands", DK_TEST_DATA_DIR "/store.commands"});
    EXPECT_EQ(result.out, dktest::readFile(DK_TEST_DATA_DIR "/store.out"));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(dktest::exists(home.path() + "/Library/Caches/.trackwell/trackwell.sqlite"));
}

// Hits of every kind on a fixed seed, start time and device: each put answers with its stored
// hit string, so the file pins the formats, the cookie, the variables and the session stamps.
TEST(AnalyticsCli, HitsCommandFileGivesItsExpectedLines) {
    dktest::TempDir home;
    dktest::ProcessResult result =
        dktest::runProcess({kCli, "--home", home.path(), "--start-time", "1700000000", "--seed", "7",
                            "--device-facts", DK_TEST_DATA_DIR "/hits-device-facts.plist", "--commands",
                            DK_TEST_DATA_DIR "/hits.commands"});
    EXPECT_EQ(result.out, dktest::readFile(DK_TEST_DATA_DIR "/hits.out"));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(dktest::exists(home.path() + "/Documents/pagestats.sql"));
}

// What the store holds, as the model below writes it.
struct State {
    std::multiset<std::string> unstaged, staged;
    std::set<std::string> headers;
    long long lastUpload = 0;
    bool operator==(const State&) const = default;
};

// Cycles of adds, a header, staging and deletion; each command one atomic step of the model.
struct Script {
    std::vector<std::string> lines;
    std::vector<std::function<void(State&)>> steps;
    explicit Script(int cycles) {
        for (int c = 1; c <= cycles; ++c) {
            for (int i = 0; i < 3; ++i) {
                std::string blob = "e" + std::to_string(c) + "." + std::to_string(i);
                add("store add " + blob, [blob](State& s) { s.unstaged.insert(blob); });
            }
            std::string header = "h" + std::to_string(c);
            add("store header " + std::to_string(c) + " " + header, [header](State& s) { s.headers.insert(header); });
            add("store stage " + std::to_string(c), [](State& s) {
                s.staged.insert(s.unstaged.begin(), s.unstaged.end());
                s.unstaged.clear();
            });
            add("store delete-uploaded", [](State& s) {
                s.staged.clear();
                s.headers.clear();
                ++s.lastUpload;
            });
        }
    }
    void add(std::string line, std::function<void(State&)> step) {
        lines.push_back(std::move(line));
        steps.push_back(std::move(step));
    }
    State after(std::size_t count) const {
        State s;
        for (std::size_t i = 0; i < count && i < steps.size(); ++i) steps[i](s);
        return s;
    }
};

// The store as found on disk (opened for writing, so a hot journal is rolled back first).
bool readStore(const std::string& path, State& state, std::string& integrity) {
    if (!dktest::exists(path)) return true;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return false;
    auto each = [&](const char* sql, const std::function<void(sqlite3_stmt*)>& row) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return;  // no schema yet
        while (sqlite3_step(stmt) == SQLITE_ROW) row(stmt);
        sqlite3_finalize(stmt);
    };
    auto text = [](sqlite3_stmt* stmt, int column) {
        const unsigned char* t = sqlite3_column_text(stmt, column);
        return std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
    };
    each("PRAGMA integrity_check", [&](sqlite3_stmt* s) { integrity += text(s, 0); });
    each("SELECT blob_string, upload_header FROM events", [&](sqlite3_stmt* s) {
        (sqlite3_column_type(s, 1) == SQLITE_NULL ? state.unstaged : state.staged).insert(text(s, 0));
    });
    each("SELECT blob_string FROM upload_headers", [&](sqlite3_stmt* s) { state.headers.insert(text(s, 0)); });
    each("SELECT last_upload_number FROM trackwell_info", [&](sqlite3_stmt* s) { state.lastUpload = sqlite3_column_int64(s, 0); });
    sqlite3_close(db);
    return true;
}

// A child on the real clock is killed at a random instant of its work: the store is always whole,
// holds every acknowledged step, and of the step under way all or nothing.
TEST(AnalyticsCli, KilledAtAnyInstantTheStoreHoldsWhatWasAcknowledged) {
    const Script script(60);
    std::string input = "store schema-version\n";
    for (const std::string& line : script.lines) input += line + "\n";
    std::mt19937 random(32);
    for (int run = 0; run < 30; ++run) {
        dktest::TempDir home;
        int in[2], out[2];
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(pipe(out), 0);
        pid_t child = fork();
        if (child == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
            execl(kCli.c_str(), kCli.c_str(), "--home", home.path().c_str(), "--clock", "real", nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        ASSERT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        // The first answer shows the store open; the kill comes somewhere in the work after it.
        std::string answers;
        char c;
        while (answers.find('\n') == std::string::npos && read(out[0], &c, 1) == 1) answers += c;
        ASSERT_EQ(answers, "2\n");
        usleep(std::uniform_int_distribution<useconds_t>(0, 120000)(random));
        kill(child, SIGKILL);
        int status;
        waitpid(child, &status, 0);
        close(in[1]);
        answers.clear();
        char buffer[4096];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<std::size_t>(n));
        close(out[0]);
        std::size_t acknowledged = 0;
        for (std::size_t at = 0; (at = answers.find('\n', at)) != std::string::npos; ++at) ++acknowledged;
        EXPECT_EQ(answers.substr(0, 3 * acknowledged), [&] {
            std::string oks;
            for (std::size_t i = 0; i < acknowledged; ++i) oks += "ok\n";
            return oks;
        }()) << "run " << run;

        State found;
        std::string integrity;
        ASSERT_TRUE(readStore(home.path() + "/Library/Caches/.trackwell/trackwell.sqlite", found, integrity));
        EXPECT_EQ(integrity, "ok") << "run " << run;
        bool before = found == script.after(acknowledged), after = found == script.after(acknowledged + 1);
        EXPECT_TRUE(before || after) << "run " << run << ": " << acknowledged << " steps acknowledged";
    }
}

// A burst of page views killed at a random instant: the file is whole, every acknowledged put is
// its row exactly, and of the put under way there is all or nothing.
TEST(AnalyticsCli, KilledDuringABurstOfPutsTheHitsAreWhole) {
    const std::string input = "hits count\nhits page-many 400 p\n";
    std::mt19937 random(34);
    for (int run = 0; run < 20; ++run) {
        dktest::TempDir home;
        int in[2], out[2];
        ASSERT_EQ(pipe(in), 0);
        ASSERT_EQ(pipe(out), 0);
        pid_t child = fork();
        if (child == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
            execl(kCli.c_str(), kCli.c_str(), "--home", home.path().c_str(), "--clock", "real", nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        ASSERT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        std::string answers;
        char c;
        while (answers.find('\n') == std::string::npos && read(out[0], &c, 1) == 1) answers += c;
        ASSERT_EQ(answers, "0\n");
        usleep(std::uniform_int_distribution<useconds_t>(0, 300000)(random));
        kill(child, SIGKILL);
        int status;
        waitpid(child, &status, 0);
        close(in[1]);
        answers.clear();
        char buffer[4096];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) answers.append(buffer, static_cast<std::size_t>(n));
        close(out[0]);
        std::vector<std::string> acknowledged;
        for (std::size_t at = 0, end; (end = answers.find('\n', at)) != std::string::npos; at = end + 1)
            acknowledged.push_back(answers.substr(at, end - at));

        const std::string path = home.path() + "/Documents/pagestats.sql";
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        std::string integrity;
        std::vector<std::string> hits;
        auto each = [&](const char* sql, const std::function<void(sqlite3_stmt*)>& row) {
            sqlite3_stmt* stmt = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return;
            while (sqlite3_step(stmt) == SQLITE_ROW) row(stmt);
            sqlite3_finalize(stmt);
        };
        each("PRAGMA integrity_check", [&](sqlite3_stmt* s) { integrity += reinterpret_cast<const char*>(sqlite3_column_text(s, 0)); });
        each("SELECT hit_string FROM hits ORDER BY hit_id", [&](sqlite3_stmt* s) { hits.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0))); });
        sqlite3_close(db);
        EXPECT_EQ(integrity, "ok") << "run " << run;
        ASSERT_TRUE(hits.size() == acknowledged.size() || hits.size() == acknowledged.size() + 1)
            << "run " << run << ": " << acknowledged.size() << " acknowledged, " << hits.size() << " stored";
        for (std::size_t i = 0; i < acknowledged.size(); ++i) EXPECT_EQ(hits[i], acknowledged[i]) << "run " << run;
        if (hits.size() > acknowledged.size()) {
            const std::string& last = hits.back();
            EXPECT_NE(last.find("&utmp=%2Fp-" + std::to_string(hits.size()) + "&"), std::string::npos) << last;
            EXPECT_NE(last.find("&utmht="), std::string::npos) << last;
        }
    }
}

}  // namespace
