// dk-analytics-cli as a whole program: its command language, and its store under kill -9.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "tests/analytics/MetricsCliSupport.h"
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

// The store as found on disk, after the other connection's hot journal was rolled back.
State readStore(const std::string& path) {
    State state;
    for (const std::string& row : dktest::rows(path, "SELECT upload_header IS NULL, blob_string FROM events"))
        (row[0] == '1' ? state.unstaged : state.staged).insert(row.substr(2));
    for (const std::string& row : dktest::rows(path, "SELECT blob_string FROM upload_headers")) state.headers.insert(row);
    for (const std::string& row : dktest::rows(path, "SELECT last_upload_number FROM trackwell_info"))
        state.lastUpload = std::stoll(row);
    return state;
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
        // The first answer shows the store open; the kill comes somewhere in the work after it.
        std::vector<std::string> answers = dktest::lines(dktest::killedRun(
            {kCli, "--home", home.path(), "--clock", "real"}, input,
            std::uniform_int_distribution<int>(0, 120)(random) / 1000.0));
        ASSERT_FALSE(answers.empty());
        ASSERT_EQ(answers.front(), "2");
        answers.erase(answers.begin());
        EXPECT_EQ(answers, std::vector<std::string>(answers.size(), "ok")) << "run " << run;

        const std::string path = home.path() + "/Library/Caches/.trackwell/trackwell.sqlite";
        EXPECT_EQ(dktest::rows(path, "PRAGMA integrity_check"), std::vector<std::string>{"ok"}) << "run " << run;
        const State found = readStore(path);
        EXPECT_TRUE(found == script.after(answers.size()) || found == script.after(answers.size() + 1))
            << "run " << run << ": " << answers.size() << " steps acknowledged";
    }
}

// A burst of page views killed at a random instant: the file is whole, every acknowledged put is
// its row exactly, and of the put under way there is all or nothing.
TEST(AnalyticsCli, KilledDuringABurstOfPutsTheHitsAreWhole) {
    std::mt19937 random(34);
    for (int run = 0; run < 20; ++run) {
        dktest::TempDir home;
        std::vector<std::string> acknowledged = dktest::lines(
            dktest::killedRun({kCli, "--home", home.path(), "--clock", "real"}, "hits count\nhits page-many 400 p\n",
                              std::uniform_int_distribution<int>(0, 300)(random) / 1000.0));
        ASSERT_FALSE(acknowledged.empty());
        ASSERT_EQ(acknowledged.front(), "0");
        acknowledged.erase(acknowledged.begin());

        const std::string path = home.path() + "/Documents/pagestats.sql";
        EXPECT_EQ(dktest::rows(path, "PRAGMA integrity_check"), std::vector<std::string>{"ok"}) << "run " << run;
        const std::vector<std::string> hits = dktest::rows(path, "SELECT hit_string FROM hits ORDER BY hit_id");
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

// --help answers with the usage and every command, on standard output, whatever else the command
// line holds; each command it lists is one the tool knows. A bad command line still says why on
// standard error (status 2).
TEST(AnalyticsCli, HelpListsTheCommandsTheToolKnows) {
    dktest::TempDir home;
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{kCli, "--help"}, {kCli, "-h"}, {kCli, "--home", home.path(), "--help"}}) {
        const dktest::ProcessResult result = dktest::runProcess(argv);
        EXPECT_EQ(result.status, 0) << argv.back();
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(result.out.starts_with("usage: dk-analytics-cli --home DIR")) << result.out;
    }
    const std::string help = dktest::runProcess({kCli, "--help"}).out;
    const std::vector<std::string> words = dktest::helpCommandWords(help, "Commands");
    for (const char* expected : {"run", "settle", "time", "store", "uploader", "metrics", "hits", "ps", "analytics"})
        EXPECT_NE(std::find(words.begin(), words.end(), expected), words.end()) << expected;
    EXPECT_EQ(dktest::commandsRefusedAsUnknown(dktest::metricsCli(home.file("h"), {}), words, home.path()),
              std::vector<std::string>{});

    const dktest::ProcessResult bad = dktest::runProcess({kCli, "--home", home.path(), "--clock"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.err.starts_with("dk-analytics-cli: missing value for --clock\nusage: ")) << bad.err;
    EXPECT_NE(bad.err.find("--help"), std::string::npos);
    EXPECT_EQ(bad.out, "");
    // The last option of the line is named for what it is, not for the value it lacks.
    const dktest::ProcessResult unknown = dktest::runProcess({kCli, "--home", home.path(), "--bogus"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(unknown.err.starts_with("dk-analytics-cli: unknown option --bogus\nusage: ")) << unknown.err;
}

}  // namespace
