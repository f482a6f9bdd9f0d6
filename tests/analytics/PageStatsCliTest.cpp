// dk-analytics-cli's `ps` commands: the tracker's answers, the bytes its dispatcher writes, a
// cancelled dispatch, and every acknowledged page delivered across runs killed at random.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "tests/analytics/MetricsCliSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

std::string okScript() {
    return R"({"default": {"body": ")" + std::string(35, 'x') + R"("}})";
}

std::vector<std::string> psCli(const std::string& home, const std::string& server,
                               const std::vector<std::string>& extra = {}, const std::string& commands = "") {
    std::vector<std::string> more = {"--endpoint", "pagestats.collector=" + server};
    more.insert(more.end(), extra.begin(), extra.end());
    return dktest::metricsCli(home, more, commands);
}

// The request bytes are pinned whole: the User-Agent of the facts file, Host without the port,
// one queue time per hit. The store is the user's alone, however permissive the umask.
TEST(PageStatsCli, CommandFileGivesItsExpectedLinesAndRequests) {
    dktest::TempDir dir;
    const dktest::ScopedUmask permissive(0);
    dktest::RecordingServer server(dir.file("server"), okScript());
    dktest::ProcessResult result =
        dktest::runProcess(psCli(dir.file("home"), server.url(), {"--commands", DK_TEST_DATA_DIR "/ps.commands"}));
    EXPECT_EQ(result.out, dktest::readFile(DK_TEST_DATA_DIR "/ps.out"));
    EXPECT_EQ(result.status, 2);  // the refused lines
    EXPECT_EQ(result.err, "Error: index must be between 1 and kPSMaxCustomVariables\n"
                          "Invalid sample rate: 101 (should be between 0 and 100)\n");
    server.stop();
    std::string requests = server.connectionBytes(1);
    EXPECT_EQ(requests.find("127.0.0.1:"), std::string::npos);
    EXPECT_EQ(requests, dktest::readFile(DK_TEST_DATA_DIR "/ps-requests.txt"));
    EXPECT_TRUE(dktest::exists(dir.file("home/Documents/pagestats.sql")));
    EXPECT_EQ(dktest::unexpectedModes(dir.file("home"), 0600, 0700), std::vector<std::string>{});
}

// Only a completed dispatch counts: one that stop cancelled leaves "none". Settle moves no clock:
// a dispatch in its retry delay stays in flight on the virtual clock however long settle waits in
// real time, and the time stamped stays where it was, until `run` lets the delay pass.
TEST(PageStatsCli, LastDispatchAndSettle) {
    dktest::TempDir dir;
    dktest::RecordingServer silent(dir.file("silent"), R"({"default": {"silent": true}})");
    dktest::ProcessResult r = dktest::runProcess(psCli(dir.file("a"), silent.url(), {},
        "ps start UA-1-2 0\nps page /a\nps dispatch\nps stop\nps last-dispatch\n"));
    EXPECT_EQ(r.out, "ok\nok\nyes\nok\nnone\n");

    dktest::RecordingServer busy(dir.file("busy"),
                                 R"({"default": {"body": "x"}, "requests": {"1": {"status": "HTTP/1.1 503 Busy"}}})");
    r = dktest::runProcess(psCli(dir.file("b"), busy.url(), {},
        "ps start UA-1-2 0\nps page /a\nps dispatch\nsettle\nps last-dispatch\nps dispatch\nps dispatch\ntime\n"
        "settle 0.2\ntime\nps last-dispatch\nrun 2\nsettle\nps last-dispatch\ntime\n"));
    EXPECT_EQ(r.out, "ok\nok\nyes\nidle\ndispatched 0 failed 1\nyes\nno\n1700000000.250\nbusy\n1700000000.250\n"
                     "dispatched 0 failed 1\nok\nidle\ndispatched 1 failed 0\n1700000002.250\n");
}

// At least once: children page and dispatch while the collector answers 503, closes in the middle
// of a pipeline or stalls, and are killed at random instants; a last run against a good
// collector has delivered every page any child acknowledged, and no stored row is broken.
TEST(PageStatsCli, EveryAcknowledgedPageIsDeliveredAcrossKilledRuns) {
    dktest::TempDir dir;
    std::mt19937 random(35);
    std::string script = R"({"default": {"status": "HTTP/1.1 503 Busy"}, "requests": {)";
    std::set<int> accepting;
    for (int i = 1; i <= 2000; ++i) {
        const int kind = std::uniform_int_distribution<int>(0, 3)(random);
        if (kind == 1 || kind == 3) accepting.insert(i);
        script += (i > 1 ? "," : "") + ("\"" + std::to_string(i) + "\": ") +
                  (kind == 0   ? R"({"silent": true})"
                   : kind == 1 ? R"({"body": "ok", "close": true})"
                   : kind == 2 ? R"({"status": "HTTP/1.1 503 Busy"})"
                               : R"({"body": "ok"})");
    }
    script += "}}";
    dktest::RecordingServer bad(dir.file("bad"), script);
    const std::string home = dir.file("home");
    const std::vector<std::string> argv = psCli(home, bad.url(), {"--clock", "real"});

    std::set<std::string> acknowledged;
    for (int run = 0; run < 12; ++run) {
        std::string commands = "ps start UA-1-2 0\n";
        for (int cycle = 0; cycle < 6; ++cycle) {
            const std::string prefix = "r" + std::to_string(run) + "c" + std::to_string(cycle);
            commands += "ps page-many 3 " + prefix + "\nps dispatch\nsettle 0.03\n";
        }
        const std::string answers =
            dktest::killedRun(argv, commands, std::uniform_real_distribution<double>(0, 0.3)(random));
        for (const std::string& line : dktest::lines(answers))
            if (line.starts_with("ok /")) acknowledged.insert(line.substr(3));
    }
    ASSERT_FALSE(acknowledged.empty());

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((home + "/Documents/pagestats.sql").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT hit_string FROM hits", -1, &stmt, nullptr), SQLITE_OK);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const std::string hit = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        EXPECT_TRUE(hit.starts_with("/__utm.gif?") && hit.find("&utmht=") != std::string::npos) << hit;
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);

    dktest::RecordingServer good(dir.file("good"), okScript());
    std::string commands = "ps start UA-1-2 0\n";
    for (int i = 0; i < 4; ++i) commands += "ps dispatch\nsettle 20\n";  // 150 hits a dispatch at most
    const std::string out = dktest::runProcess(psCli(home, good.url(), {"--clock", "real"}, commands)).out;
    EXPECT_EQ(out.substr(0, 3), "ok\n");

    std::set<std::string> delivered;
    auto collect = [&](dktest::RecordingServer& server, const std::function<bool(int)>& took) {
        server.stop();
        for (const std::string& line : server.requestLines()) {
            const std::size_t index = line.find("\"index\": ");
            if (!took(std::stoi(line.substr(index + 9)))) continue;
            const std::size_t page = line.find("utmp=%2F");
            if (page == std::string::npos) continue;
            delivered.insert("/" + line.substr(page + 8, line.find('&', page) - page - 8));
        }
    };
    collect(bad, [&](int i) { return accepting.count(i) > 0; });
    EXPECT_FALSE(bad.requestLines().empty());  // the killed runs did dispatch
    collect(good, [](int) { return true; });
    for (const std::string& page : acknowledged) EXPECT_TRUE(delivered.count(page)) << page;
}

}  // namespace

namespace {

// Three processes on one home page and dispatch at once: every put is stored, every page reaches
// the collector, and none twice (one process sends the stored hits at a time).
TEST(PageStatsCli, ThreeProcessesOnOneHomeShareTheStore) {
    dktest::TempDir dir;
    dktest::RecordingServer server(dir.file("server"), okScript());
    ASSERT_TRUE(server.running());
    std::vector<dktest::TogetherRun> together;
    for (int p = 0; p < 3; ++p) {
        std::string commands = "ps start UA-1-2 0\n";
        for (int cycle = 0; cycle < 4; ++cycle)
            commands += "ps page-many 20 p" + std::to_string(p) + "c" + std::to_string(cycle) + "\nps dispatch\n"
                        "settle 0.2\n";
        // Seeded alike, the processes would share a store id and its hits' random numbers.
        together.push_back({psCli(dir.file("home"), server.url(), {"--clock", "real", "--seed", std::to_string(11 + p)}),
                            commands + "settle 20\n"});
    }
    const std::vector<dktest::ProcessResult> runs = dktest::runTogether(dir.path(), together);
    std::set<std::string> stored;
    for (const dktest::ProcessResult& r : runs)
        for (const std::string& line : dktest::lines(r.out)) {
            EXPECT_FALSE(line.starts_with("error")) << line;
            if (line.starts_with("ok /")) stored.insert(line.substr(3));
        }
    EXPECT_EQ(stored.size(), 3u * 4 * 20);
    // What was left goes with the next start's dispatches.
    std::string last = "ps start UA-1-2 0\n";
    for (int i = 0; i < 3; ++i) last += "ps dispatch\nsettle 20\n";
    last += "hits count\n";
    const std::string out = dktest::runProcess(psCli(dir.file("home"), server.url(), {"--clock", "real", "--seed", "21"}, last)).out;
    EXPECT_TRUE(out.ends_with("\n0\n")) << out;

    server.stop();
    std::map<std::string, int> sent;
    for (const std::string& line : server.requestLines()) {
        const std::size_t page = line.find("utmp=%2F");
        if (page != std::string::npos) ++sent["/" + line.substr(page + 8, line.find('&', page) - page - 8)];
    }
    for (const std::string& page : stored) EXPECT_TRUE(sent.count(page)) << page;
    for (const auto& [page, times] : sent) EXPECT_EQ(times, 1) << page;
}

// Processes putting in a loop on one fresh home: each waits its turn at the lock and none
// gives up, and all share the visitor id of the one session row.
// A writer that only paused for a moment after seeing another waiting took the lock again before
// a waiter woke on a busy machine, and that waiter's put failed as locked after its whole wait.
TEST(PageStatsCli, ProcessesPuttingAtOnceEachGetTheirTurn) {
    dktest::TempDir dir;
    constexpr int kProcesses = 3, kPuts = 80;
    std::vector<dktest::TogetherRun> together;
    for (int p = 0; p < kProcesses; ++p)
        together.push_back({dktest::metricsCli(dir.file("home"), {"--seed", std::to_string(11 + p)}),
                            "hits page-many " + std::to_string(kPuts) + " p" + std::to_string(p) + "\n"});
    const std::vector<dktest::ProcessResult> runs = dktest::runTogether(dir.path(), together);
    int acknowledged = 0;
    for (const dktest::ProcessResult& r : runs) {
        EXPECT_EQ(r.err, "");
        for (const std::string& line : dktest::lines(r.out)) {
            EXPECT_FALSE(line.starts_with("error")) << line;
            if (line.starts_with("/__utm.gif?")) ++acknowledged;
        }
    }
    EXPECT_EQ(acknowledged, kProcesses * kPuts);
    // Every process took the visitor id of the one session row, whoever made it.
    const std::string file = dir.file("home/Documents/pagestats.sql");
    const std::vector<std::string> storeId = dktest::rows(file, "SELECT store_id FROM session");
    ASSERT_EQ(storeId.size(), 1u);
    const std::vector<std::string> hits = dktest::rows(file, "SELECT hit_string FROM hits");
    EXPECT_EQ(hits.size(), static_cast<std::size_t>(kProcesses * kPuts));
    for (const std::string& hit : hits) EXPECT_NE(hit.find("__utma%3D1." + storeId[0] + "."), std::string::npos) << hit;
}

}  // namespace
