// drovik-player with the real analytics clients, end to end: the probe game with DKUserID u1,
// DKAppID a1 and DKReleaseID r1, on the virtual clock, against recording servers as the page-view
// collector and the two metrics collectors. What each server received is read back: page views by
// their page and whether they carry the model, metrics uploads as summaries of their blobs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

const std::string kPlayer = DK_BINARY_DIR "/apps/drovik-player/drovik-player";
const std::string kPathPrefix = "utmp=%2Fappstore%2Fu1%2Fa1%2Fr1%2F";
// Background at 7 s, foreground 1 s later: within the metrics client's 15 s the session resumes.
const std::string kBackgroundAndBack = "7 app.background\n+1 app.foreground\n";

// A recording server's requests, each read as JSON.
std::vector<std::string> requestLines(const dktest::RecordingServer& server, std::size_t from = 0) {
    std::vector<std::string> lines = server.requestLines();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())));
    return lines;
}

std::string requestLine(const std::string& line) {
    dktest::JsonDoc doc(line);
    return dktest::text(dktest::member(doc.root(), "request_line"));
}

// Page views in the order received: the page, and "+Model" when the hit carries the model.
std::vector<std::string> pages(const dktest::RecordingServer& server, std::size_t from = 0) {
    std::vector<std::string> out;
    for (const std::string& line : requestLines(server, from)) {
        const std::string request = requestLine(line);
        const std::size_t at = request.find(kPathPrefix);
        if (at == std::string::npos) {
            out.push_back("? " + request);
            continue;
        }
        const std::size_t page = at + kPathPrefix.size();
        const bool model = request.find("&utme=8(1!Model)9(1!iPhone_4S)11(1!2)&") != std::string::npos;
        out.push_back(request.substr(page, request.find('&', page) - page) + (model ? "+Model" : ""));
    }
    return out;
}

// Metrics uploads, one line each: its blobs as "h <au>" (header), "s <nth>" (open), "c S<nth>"
// (close of the session opened as nth, "c S<nth>!" when its start is not that open's), "e <name>
// S<nth>" (event), "f" (flow), joined by " | ". Sessions are known by the opens seen so far.
class Uploads {
public:
    std::vector<std::string> read(const dktest::RecordingServer& server, std::size_t from = 0) {
        std::vector<std::string> out;
        for (const std::string& line : requestLines(server, from)) out.push_back(summary(dktest::inflatedBody(line)));
        return out;
    }

private:
    std::string summary(const std::string& body) {
        dktest::JsonDoc doc(body);
        if (!YAJL_IS_ARRAY(doc.root())) return "not an array: " + body;
        std::string out;
        for (std::size_t i = 0; i < doc.root()->u.array.len; ++i) {
            yajl_val blob = doc.root()->u.array.values[i];
            const std::string kind = dktest::text(dktest::member(blob, "dt"));
            std::string item = kind;
            if (kind == "h") {
                item += " " + dktest::text(dktest::member(dktest::member(blob, "attrs"), "au"));
            } else if (kind == "s") {
                const std::string nth = dktest::text(dktest::member(blob, "nth"));
                m_sessions[dktest::text(dktest::member(blob, "u"))] = {nth, dktest::text(dktest::member(blob, "ct"))};
                item += " " + nth;
            } else if (kind == "c" || kind == "e") {
                if (kind == "e") item += " " + dktest::text(dktest::member(blob, "n"));
                auto session = m_sessions.find(dktest::text(dktest::member(blob, "su")));
                item += session == m_sessions.end() ? " S?" : " S" + session->second.nth;
                if (kind == "c" && session != m_sessions.end() &&
                    dktest::text(dktest::member(blob, "ss")) != session->second.start)
                    item += "!";
            }
            out += (out.empty() ? "" : " | ") + item;
        }
        return out;
    }

    struct Session {
        std::string nth, start;
    };
    std::map<std::string, Session> m_sessions;  // by the open blob's "u"
};

// The pages the trace's "svc analytics trackAppInfo" lines name, sorted.
std::vector<std::string> trackedPages(const std::string& trace) {
    std::vector<std::string> out;
    const std::string mark = "svc analytics trackAppInfo ";
    for (std::size_t at = trace.find(mark); at != std::string::npos; at = trace.find(mark, at + 1)) {
        const std::size_t from = at + mark.size();
        out.push_back(trace.substr(from, trace.find('\n', from) - from));
    }
    std::sort(out.begin(), out.end());
    return out;
}

class AnalyticsRoad : public testing::Test {
protected:
    void SetUp() override {
        fs::copy(DK_SOURCE_DIR "/player/tests/data/Probe.app", m_app, fs::copy_options::recursive);
        dktest::writeFile(m_app + "/Probe.gameproj/project.lua", "");
        dktest::writeFile(m_app + "/Info.plist",
                          "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.test.probe</string>"
                          "<key>UISupportedInterfaceOrientations</key><array><string>UIInterfaceOrientationPortrait"
                          "</string></array><key>DKUserID</key><string>u1</string><key>DKAppID</key><string>a1"
                          "</string><key>DKReleaseID</key><string>r1</string></dict></plist>\n");
        dktest::writeFile(m_dir.file("facts.plist"),
                          "<plist version=\"1.0\"><dict><key>machine</key><string>iPhone4,1</string></dict></plist>");
        dktest::writeFile(m_dir.file("input.txt"), kBackgroundAndBack);
    }

    // The page-view collector and the two metrics collectors, each answering as `script` says,
    // and the servers file naming them.
    struct Servers {
        dktest::RecordingServer pageViews, collector1, collector2;
        std::string file;
        Servers(const dktest::TempDir& dir, const std::string& name, const std::string& script)
            : pageViews(dir.file(name + "-pv"), script),
              collector1(dir.file(name + "-c1"), script),
              collector2(dir.file(name + "-c2"), script),
              file(dir.file(name + ".plist")) {
            dktest::writeFile(file, "<plist version=\"1.0\"><dict><key>pagestats.collector</key><string>" +
                                        pageViews.url() + "</string><key>trackwell.collector.1</key><string>" +
                                        collector1.url() + "</string><key>trackwell.collector.2</key><string>" +
                                        collector2.url() + "</string></dict></plist>");
        }
    };

    // drovik-player for 15 s on the virtual clock over the test's home, tracing the clients'
    // calls to `trace`, then `extra`.
    std::vector<std::string> arguments(const std::string& trace, std::vector<std::string> extra = {}) const {
        std::vector<std::string> argv = {kPlayer, "--headless", "--home", m_dir.file("home"), "--duration", "15",
                                         "--device-facts", m_dir.file("facts.plist"), "--trace", "svc",
                                         "--trace-file", trace};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(m_app);
        return argv;
    }

    std::string storePath() const { return m_dir.file("home/Library/Caches/.trackwell/trackwell.sqlite"); }
    std::string hitStorePath() const { return m_dir.file("home/Documents/pagestats.sql"); }

    dktest::TempDir m_dir;
    const std::string m_app = m_dir.file("Probe.app");
};

const std::string kAnswer = R"({"default": {"body": "x"}})";

// Page views at the tracker's first dispatch (the model on each process's first), the metrics
// uploads to both collectors at launch, background and exit: the header's application key and
// the open; the background's close; the resumed session's "appResume" and its close, which starts
// where the session did. A second launch sends what the first left (its appStop) first, and no
// firstLaunch.
TEST_F(AnalyticsRoad, TwoLaunchesReachTheCollectors) {
    Servers servers(m_dir, "good", kAnswer);
    ASSERT_TRUE(servers.pageViews.running() && servers.collector1.running() && servers.collector2.running());
    const std::vector<std::string> environment = {"DROVIK_SERVERS=" + servers.file};
    Uploads uploads;

    dktest::ProcessResult r = dktest::runProcess(arguments(m_dir.file("trace1.txt"), {"--input", m_dir.file("input.txt")}), environment);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pages(servers.pageViews),
              (std::vector<std::string>{"firstLaunch+Model", "appLaunch", "playGame", "playGame"}));
    EXPECT_EQ(uploads.read(servers.collector1),
              (std::vector<std::string>{"h u1-a1 | s 1", "h u1-a1 | c S1",
                                        "h u1-a1 | e appResume S1 | c S1 | f | f"}));
    EXPECT_EQ(servers.collector2.requestLines().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(dktest::inflatedBody(requestLines(servers.collector2)[i]),
                  dktest::inflatedBody(requestLines(servers.collector1)[i]));

    r = dktest::runProcess(arguments(m_dir.file("trace2.txt")), environment);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(pages(servers.pageViews, 4), (std::vector<std::string>{"appStop", "appLaunch+Model", "playGame"}));
    EXPECT_EQ(uploads.read(servers.collector1, 3), (std::vector<std::string>{"h u1-a1 | s 2", "h u1-a1 | c S2"}));
}

// A child process that is killed (SIGKILL) when the object goes, if it is still running.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
        m_pid = fork();
        if (m_pid != 0) return;
        const int null = open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2}) dup2(null, fd);
        for (const std::string& e : environment) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    ~Child() { kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool running() {
        return m_pid > 0 && waitpid(m_pid, &m_status, WNOHANG) == 0;
    }
    // True when the child was still running and the signal ended it.
    bool kill() {
        if (m_pid <= 0) return false;
        const bool wasRunning = running() && ::kill(m_pid, SIGKILL) == 0 && waitpid(m_pid, &m_status, 0) == m_pid;
        m_pid = -1;
        return wasRunning && WIFSIGNALED(m_status) && WTERMSIG(m_status) == SIGKILL;
    }

private:
    pid_t m_pid = -1;
    int m_status = 0;
};

// Every blob the metrics store holds: upload headers and events.
std::vector<std::string> storedBlobs(const std::string& store) {
    std::vector<std::string> blobs = dktest::rows(store, "SELECT blob_string FROM upload_headers");
    for (const std::string& blob : dktest::rows(store, "SELECT blob_string FROM events")) blobs.push_back(blob);
    return blobs;
}

// A quit signal at the exit's wait for the clients (600 s here, collectors that never answer) ends
// it at once, status 0: the page view of the way out and the session's close stay stored.
TEST_F(AnalyticsRoad, AQuitSignalEndsTheWaitForTheClientsWithTheirEventsKept) {
    Servers stalled(m_dir, "stalled", R"({"default": {"silent": true}})");
    ASSERT_TRUE(stalled.pageViews.running() && stalled.collector1.running() && stalled.collector2.running());
    const std::string trace = m_dir.file("trace.txt");
    bool timedOut = false;
    const dktest::ProcessResult r = dktest::runProcessActing(
        arguments(trace, {"--drain-seconds", "600"}), {"DROVIK_SERVERS=" + stalled.file}, m_dir.path(),
        [&] { return dktest::readFile(trace).find("trackAppInfo appStop") != std::string::npos; },
        [](int pid) { kill(pid, SIGTERM); }, 60, &timedOut);
    ASSERT_FALSE(timedOut) << "the wait for the clients outlasted its quit";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dktest::rows(hitStorePath(), "SELECT count(*) FROM hits WHERE hit_string LIKE '%appStop%'"),
              std::vector<std::string>{"1"});
    const std::vector<std::string> blobs = storedBlobs(storePath());
    EXPECT_EQ(
        std::count_if(blobs.begin(), blobs.end(),
                      [](const std::string& blob) { return blob.find(R"("dt":"c")") != std::string::npos; }),
        1);
}

// Killed while the page view dispatch and the metrics upload wait on collectors that never answer,
// the first run leaves both stores whole, holding every page view it tracked and its session; the
// second run, against collectors that answer, delivers all of it.
TEST_F(AnalyticsRoad, KilledWhileTheCollectorsStallLosesNothing) {
    const std::string firstTrace = m_dir.file("trace1.txt");
    {
        Servers stalled(m_dir, "stalled", R"({"default": {"silent": true}})");
        ASSERT_TRUE(stalled.pageViews.running() && stalled.collector1.running() && stalled.collector2.running());
        // The exit's wait for the clients outlasts the test's: the kill comes while they stall.
        Child player(arguments(firstTrace, {"--input", m_dir.file("input.txt"), "--drain-seconds", "600"}),
                     {"DROVIK_SERVERS=" + stalled.file});
        // Bounded: a player that never gets to its dispatch fails here rather than hanging.
        for (int i = 0; i < 12000 && player.running() &&
                        (stalled.pageViews.requestLines().empty() || stalled.collector1.requestLines().empty() ||
                         stalled.collector2.requestLines().empty());
             ++i)
            usleep(10000);
        ASSERT_FALSE(stalled.pageViews.requestLines().empty()) << "no dispatch reached the stalled collector";
        ASSERT_FALSE(stalled.collector1.requestLines().empty());
        ASSERT_TRUE(player.kill()) << "the player ended before it was killed";
    }
    for (const std::string& store : {storePath(), hitStorePath()})
        EXPECT_EQ(dktest::rows(store, "PRAGMA integrity_check"), std::vector<std::string>{"ok"}) << store;

    // What the first run left: each page view it tracked, and its session's open and appResume.
    const std::vector<std::string> hits = dktest::rows(hitStorePath(), "SELECT hit_string FROM hits");
    std::vector<std::string> storedPages;
    for (const std::string& hit : hits) {
        const std::size_t from = hit.find(kPathPrefix) + kPathPrefix.size();
        storedPages.push_back(hit.substr(from, hit.find('&', from) - from));
    }
    std::sort(storedPages.begin(), storedPages.end());
    EXPECT_EQ(storedPages, trackedPages(dktest::readFile(firstTrace)));
    const std::vector<std::string> blobs = storedBlobs(storePath());
    auto holding = [&](const std::string& part) {
        return std::count_if(blobs.begin(), blobs.end(),
                             [&](const std::string& blob) { return blob.find(part) != std::string::npos; });
    };
    EXPECT_EQ(holding(R"("dt":"s")"), 1);
    EXPECT_EQ(holding(R"("n":"appResume")"), 1);

    Servers good(m_dir, "good", kAnswer);
    const dktest::ProcessResult r = dktest::runProcess(arguments(m_dir.file("trace2.txt")), {"DROVIK_SERVERS=" + good.file});
    ASSERT_EQ(r.status, 0) << r.err;
    good.pageViews.stop();
    good.collector1.stop();
    good.collector2.stop();
    std::string requests;
    for (const std::string& line : requestLines(good.pageViews)) requests += requestLine(line) + "\n";
    for (const std::string& hit : hits) EXPECT_NE(requests.find(hit + "&utmqt="), std::string::npos) << hit;
    for (const dktest::RecordingServer* collector : {&good.collector1, &good.collector2}) {
        std::string bodies;
        for (const std::string& line : requestLines(*collector)) bodies += dktest::inflatedBody(line);
        for (const std::string& blob : blobs) EXPECT_NE(bodies.find(blob), std::string::npos) << blob;
    }
    for (const std::string& store : {storePath(), hitStorePath()})
        EXPECT_EQ(dktest::rows(store, "PRAGMA integrity_check"), std::vector<std::string>{"ok"}) << store;
}

}  // namespace
