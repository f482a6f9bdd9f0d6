// The metrics session through dk-analytics-cli: blob texts, the upload header's facts, uploads
// against recording collectors, and what survives a process.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "analytics/trackwell/tests/TrackwellTestSupport.h"
#include "platform/crypto/Crypto.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "tests/analytics/MetricsCliSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

using dktest::JsonDoc;
using plat::foundation::Value;

std::string sha1(const std::string& text) {
    return plat::crypto::hex(*plat::crypto::sha1(text));
}

// The store file's birth time is the only figure a run cannot fix.
std::string maskCreated(const std::string& text) {
    return std::regex_replace(text, std::regex("\"pa\":[0-9]+"), "\"pa\":PA");
}

TEST(MetricsCli, BlobsOfEachKindAndTheClientsMessages) {
    dktest::TempDir home;
    dktest::ProcessResult r = dktest::runProcess(dktest::metricsCli(
        home.path(), {"--bundle", DK_TEST_DATA_DIR "/Metrics.app", "--log", "--commands", DK_TEST_DATA_DIR "/metrics.commands"}));
    EXPECT_EQ(maskCreated(r.out), dktest::readFile(DK_TEST_DATA_DIR "/metrics.out"));
    EXPECT_EQ(maskCreated(r.err), dktest::readFile(DK_TEST_DATA_DIR "/metrics.err"));
    for (const std::string& line : dktest::lines(r.out))
        if (line.starts_with("[")) {
            EXPECT_EQ(JsonDoc(line).error(), "") << line;
        }
}

// A profile as the signing tools wrap it: DER-like bytes around the property list's XML.
std::string profile(const Value::Dictionary& plist) {
    const std::string xml = *plat::foundation::serializePropertyList(plist, plat::foundation::PropertyListFormat::Xml);
    return std::string("\x30\x82\x1f\xa0\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02\xa0\x00\xff", 18) + xml +
           std::string("\xa0\x82\x0d\xff\x00\xfe", 6);
}

TEST(MetricsCli, HeaderFactsFromTheFactsFileTheBundleAndItsProfile) {
    const std::vector<std::string> kMembers = {"dt",    "iu",  "au",  "av",   "lv",  "du",  "udid", "dp",  "dov", "dmo",
                                               "devid", "ari", "ra",  "dwid", "dmem", "dll", "dlc",  "dc",  "j"};
    const Value::Dictionary development{{"Entitlements", Value::Dictionary{{"get-task-allow", true}}}};
    const Value::Dictionary adHoc{{"ProvisionedDevices", Value::Array{"0123"}}};
    const Value::Dictionary appStore{{"Name", "Store"}};
    const std::string mac = "00:1a:2b:3c:4d:5e", adid = "1E2DFA89-496A-47FD-9941-DF1FC4E6484A";
    const struct Case {
        const char* what;
        std::optional<std::string> profileBytes;
        std::string version, adid, mac;
        bool keys;  // DKUserID and DKReleaseID in the Info.plist
        const char* ra;
        std::string du;
    } cases[] = {
        {"no profile", std::nullopt, "6.1", adid, mac, true, "no", adid},
        {"development", profile(development), "6.0", adid, mac, false, "no", adid},
        {"ad hoc", profile(adHoc), "5.1", adid, mac, true, "no", sha1(mac)},
        {"app store", profile(appStore), "7.0", "", mac, true, "yes", sha1(mac)},
        {"damaged", profile(appStore).substr(0, 60), "7.0", "", "", true, "no", sha1("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dktest::TempDir dir;
        const std::string app = dir.file("Game.app");
        std::filesystem::create_directories(app);
        dktest::writeFile(app + "/Info.plist", dktest::infoPlist(c.keys ? "<key>DKUserID</key><string>u-1</string>"
                                                                          "<key>DKReleaseID</key><string>r\"2</string>"
                                                                        : ""));
        if (c.profileBytes) dktest::writeFile(app + "/embedded.mobileprovision", *c.profileBytes);
        dktest::writeFile(dir.file("facts.plist"),
                          dktest::factsPlist({{"systemVersion", c.version}, {"advertisingIdentifier", c.adid},
                                              {"macAddress", c.mac}}));
        dktest::ProcessResult r = dktest::runProcess(dktest::metricsCli(
            dir.file("home"), {"--bundle", app, "--device-facts", dir.file("facts.plist")},
            "metrics start key-1\nsettle\nstore text\n"));
        const std::vector<std::string> out = dktest::lines(r.out);
        ASSERT_EQ(out.size(), 3u) << r.out << r.err;
        JsonDoc upload(out[2]);
        ASSERT_EQ(upload.error(), "");
        yajl_val facts = dktest::member(upload.root()->u.array.values[0], "attrs");
        EXPECT_EQ(dktest::keys(facts), kMembers);
        EXPECT_EQ(dktest::text(dktest::member(facts, "ra")), c.ra);
        EXPECT_EQ(dktest::text(dktest::member(facts, "du")), c.du);
        EXPECT_EQ(dktest::text(dktest::member(facts, "udid")), sha1(c.du));
        EXPECT_EQ(dktest::text(dktest::member(facts, "dwid")), sha1(c.mac));
        EXPECT_EQ(dktest::text(dktest::member(facts, "devid")), c.keys ? "u-1" : "null");
        EXPECT_EQ(dktest::text(dktest::member(facts, "ari")), c.keys ? "r\"2" : "null");
        EXPECT_EQ(dktest::text(dktest::member(facts, "au")), "key-1");
    }
}

TEST(MetricsCli, OptingOutOutlastsTheProcess) {
    dktest::TempDir home;
    dktest::runProcess(dktest::metricsCli(home.path(), {}, "metrics start k\nmetrics optin 0\n"));
    dktest::ProcessResult r = dktest::runProcess(
        dktest::metricsCli(home.path(), {"--log"}, "metrics start k\nmetrics resume\nmetrics state\n"));
    EXPECT_EQ(r.out, "ok\nok\ninitialized=1 open=0 optedin=0\n");
    EXPECT_NE(r.err.find("Can't open session because user is opted out."), std::string::npos);
    EXPECT_NE(r.err.find("Can't resume session because user is opted out."), std::string::npos);
}

// The arrays each collector was sent, inflated, in arrival order.
std::vector<std::string> uploads(dktest::RecordingServer& server) {
    server.stop();
    std::vector<std::string> out;
    for (const std::string& line : server.requestLines()) out.push_back(dktest::inflatedBody(line));
    return out;
}

// Both collectors refuse the first upload: the second sends its blobs again under the same header
// (number and "u"), with the new ones after them. The store is the user's alone, however
// permissive the umask.
TEST(MetricsCli, AFailedUploadGoesAgainUnderTheSameHeader) {
    dktest::TempDir dir;
    const dktest::ScopedUmask permissive(0);
    const std::string script = R"({"default": {}, "requests": {"1": {"status": "HTTP/1.1 503 No"}}})";
    dktest::RecordingServer first(dir.file("s1"), script), second(dir.file("s2"), script);
    dktest::ProcessResult r = dktest::runProcess(dktest::metricsCli(
        dir.file("home"), {"--endpoint", "trackwell.collector.1=" + first.url(), "--endpoint", "trackwell.collector.2=" + second.url()},
        "metrics start k\nsettle\nmetrics tag again\nmetrics upload\nsettle\nstore count\n"));
    EXPECT_EQ(r.out, "ok\nidle\ntagged again\nok\nidle\n0\n");
    const std::vector<std::string> sent = uploads(first);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(uploads(second), sent);
    JsonDoc failed(sent[0]), again(sent[1]);
    ASSERT_EQ(failed.error() + again.error(), "");
    const std::size_t before = failed.root()->u.array.len;
    ASSERT_GT(again.root()->u.array.len, before);
    for (std::size_t i = 0; i < before; ++i)
        EXPECT_EQ(dktest::text(dktest::member(again.root()->u.array.values[i], "u")),
                  dktest::text(dktest::member(failed.root()->u.array.values[i], "u")));
    EXPECT_EQ(dktest::text(dktest::member(again.root()->u.array.values[0], "seq")), "1");
    EXPECT_EQ(dktest::text(dktest::member(again.root()->u.array.values[before], "n")), "again");
    EXPECT_TRUE(dktest::exists(dir.file("home/Library/Caches/.trackwell/trackwell.sqlite")));
    EXPECT_EQ(dktest::unexpectedModes(dir.file("home"), 0600, 0700), std::vector<std::string>{});
}

// An upload asked for while one is under way stages nothing and loses nothing.
TEST(MetricsCli, AnUploadWhileOneRunsKeepsEverything) {
    dktest::TempDir dir;
    const std::string slow = R"({"default": {"delay": 0.3}})";
    dktest::RecordingServer first(dir.file("s1"), slow), second(dir.file("s2"), slow);
    dktest::ProcessResult r = dktest::runProcess(dktest::metricsCli(
        dir.file("home"), {"--log", "--endpoint", "trackwell.collector.1=" + first.url(), "--endpoint", "trackwell.collector.2=" + second.url()},
        "metrics start k\nmetrics tag kept\nmetrics upload\nstore unstaged\nsettle\nstore count\n"));
    EXPECT_EQ(r.out, "ok\ntagged kept\nok\n1\nidle\n1\n");
    EXPECT_NE(r.err.find("An upload is already in progress. Aborting."), std::string::npos);
}

// The event names in the arrays a collector was sent, for the requests `accepted` says it took.
void addDelivered(dktest::RecordingServer& server, const std::function<bool(int)>& accepted, std::set<std::string>& names) {
    server.stop();
    for (const std::string& line : server.requestLines()) {
        if (!accepted(std::stoi(dktest::text(dktest::member(JsonDoc(line).root(), "index"))))) continue;
        JsonDoc upload(dktest::inflatedBody(line));
        ASSERT_EQ(upload.error(), "");
        for (std::size_t i = 0; i < upload.root()->u.array.len; ++i)
            if (yajl_val name = dktest::member(upload.root()->u.array.values[i], "n")) names.insert(dktest::text(name));
    }
}

// At least once: children tag, close and upload while the collectors answer 503, stall or take
// a while to accept, and are killed at random instants; a last run with willing collectors has
// delivered every event any child acknowledged.
TEST(MetricsCli, EveryAcknowledgedEventIsDeliveredAcrossKilledRuns) {
    dktest::TempDir dir;
    std::mt19937 random(34);
    std::string script = R"({"default": {"status": "HTTP/1.1 503 Busy"}, "requests": {)";
    std::set<int> accepting;
    for (int i = 1; i <= 400; ++i) {
        const int kind = std::uniform_int_distribution<int>(0, 2)(random);
        if (kind == 1) accepting.insert(i);
        script += (i > 1 ? "," : "") + ("\"" + std::to_string(i) + "\": ") +
                  (kind == 0 ? R"({"silent": true})" : kind == 1 ? R"({"status": "HTTP/1.1 200 OK", "delay": 0.03})" : R"({"status": "HTTP/1.1 503 Busy"})");
    }
    script += "}}";
    std::vector<std::unique_ptr<dktest::RecordingServer>> busy;
    for (const char* s : {"b1", "b2"}) busy.push_back(std::make_unique<dktest::RecordingServer>(dir.file(s), script));
    const std::vector<std::string> argv = dktest::metricsCli(
        dir.file("home"), {"--clock", "real", "--endpoint", "trackwell.collector.1=" + busy[0]->url(), "--endpoint",
                           "trackwell.collector.2=" + busy[1]->url()});

    std::set<std::string> acknowledged;
    for (int run = 0; run < 10; ++run) {
        std::string commands = "metrics start k\n";
        for (int cycle = 0; cycle < 6; ++cycle) {
            const std::string prefix = "r" + std::to_string(run) + "c" + std::to_string(cycle);
            // Tags land while an upload is in flight, and closes while one may be.
            commands += "metrics tag-many 3 " + prefix + "a\nmetrics upload\nmetrics tag-many 3 " + prefix +
                        "b\nsettle 0.05\nmetrics close\nmetrics upload\nmetrics resume\n";
        }
        const std::string answers = dktest::killedRun(argv, commands, std::uniform_real_distribution<double>(0, 0.3)(random));
        for (const std::string& line : dktest::lines(answers))
            if (line.starts_with("tagged ")) acknowledged.insert(line.substr(7));
    }
    ASSERT_FALSE(acknowledged.empty());

    dktest::RecordingServer first(dir.file("w1")), second(dir.file("w2"));
    std::vector<std::string> last = argv;
    last.insert(last.end(), {"--endpoint", "trackwell.collector.1=" + first.url(), "--endpoint",
                             "trackwell.collector.2=" + second.url()});
    dktest::writeFile(dir.file("last.commands"), "metrics start k\nsettle 20\n");
    last.insert(last.end(), {"--commands", dir.file("last.commands")});
    EXPECT_EQ(dktest::runProcess(last).out, "ok\nidle\n");

    std::set<std::string> delivered;
    for (auto& server : busy) addDelivered(*server, [&](int i) { return accepting.count(i) > 0; }, delivered);
    for (dktest::RecordingServer* server : {&first, &second}) addDelivered(*server, [](int) { return true; }, delivered);
    for (const std::string& name : acknowledged) EXPECT_TRUE(delivered.count(name)) << name;
}

}  // namespace

namespace {

// Three processes on one home tag, close and upload at once: every tag is stored (none meets a
// lock it gives up on), every event reaches the collector, and none twice (a staged row belongs
// to the one process that sends it, and an upload sends only the rows it staged).
TEST(MetricsCli, ThreeProcessesOnOneHomeShareTheStore) {
    dktest::TempDir dir;
    dktest::RecordingServer collector(dir.file("c1"));
    ASSERT_TRUE(collector.running());
    const std::vector<std::string> argv = dktest::metricsCli(
        dir.file("home"), {"--clock", "real", "--endpoint", "trackwell.collector.1=" + collector.url()});
    std::vector<dktest::TogetherRun> together;
    for (int p = 0; p < 3; ++p) {
        std::string commands = "metrics start k\n";
        for (int cycle = 0; cycle < 8; ++cycle) {
            const std::string prefix = "p" + std::to_string(p) + "c" + std::to_string(cycle);
            commands += "metrics tag-many 25 " + prefix + "\nmetrics upload\nmetrics close\nmetrics upload\n"
                        "metrics resume\n";
        }
        std::vector<std::string> args = argv;
        args.insert(args.end(), {"--seed", std::to_string(11 + p)});  // seeded alike: the same UUIDs
        together.push_back({args, commands + "settle 30\n"});
    }
    const std::vector<dktest::ProcessResult> runs = dktest::runTogether(dir.path(), together);
    std::set<std::string> tagged;
    for (const dktest::ProcessResult& r : runs)
        for (const std::string& line : dktest::lines(r.out)) {
            EXPECT_FALSE(line.starts_with("fail ")) << line;
            if (line.starts_with("tagged ")) tagged.insert(line.substr(7));
        }
    EXPECT_EQ(tagged.size(), 3u * 8 * 25);
    // What a process left staged while another owned the upload goes with the next start.
    std::vector<std::string> last = argv;
    dktest::writeFile(dir.file("last.commands"), "metrics start k\nsettle 30\nstore count\n");
    last.insert(last.end(), {"--seed", "21", "--commands", dir.file("last.commands")});
    EXPECT_EQ(dktest::runProcess(last).out, "ok\nidle\n0\n");

    collector.stop();
    std::map<std::string, int> sent;  // each blob's "u" (every kind but the opt change carries one)
    std::set<std::string> delivered;
    for (const std::string& line : collector.requestLines()) {
        JsonDoc upload(dktest::inflatedBody(line));
        ASSERT_EQ(upload.error(), "");
        for (std::size_t i = 0; i < upload.root()->u.array.len; ++i) {
            yajl_val blob = upload.root()->u.array.values[i];
            if (yajl_val u = dktest::member(blob, "u")) ++sent[dktest::text(u)];
            if (yajl_val name = dktest::member(blob, "n")) delivered.insert(dktest::text(name));
        }
    }
    for (const std::string& name : tagged) EXPECT_TRUE(delivered.count(name)) << name;
    for (const auto& [u, times] : sent) EXPECT_EQ(times, 1) << u;
}

}  // namespace

namespace {

// Both stores damaged past their first page between two runs: the next start sets each aside,
// says so once, and what it then tags and pages reaches the collectors.
TEST(MetricsCli, DamagedStoresAreHealedAtTheNextStart) {
    dktest::TempDir dir;
    const std::string home = dir.file("home");
    const std::vector<std::string> first = dktest::metricsCli(
        home, {"--endpoint", "pagestats.collector=http://127.0.0.1:9"},
        "metrics start k\nmetrics tag-many 150 old\nps start UA-1-2 0\nps page-many 150 old\nps stop\n");
    ASSERT_EQ(dktest::runProcess(first).status, 0);
    const std::string metricsStore = home + "/Library/Caches/.trackwell/trackwell.sqlite";
    const std::string hitStore = home + "/Documents/pagestats.sql";
    dktest::damagePastFirstPage(metricsStore);
    dktest::damagePastFirstPage(hitStore);

    dktest::RecordingServer metrics(dir.file("m")), pages(dir.file("p"), R"({"default": {"body": "x"}})");
    ASSERT_TRUE(metrics.running() && pages.running());
    const dktest::ProcessResult r = dktest::runProcess(dktest::metricsCli(
        home, {"--endpoint", "trackwell.collector.1=" + metrics.url(), "--endpoint", "pagestats.collector=" + pages.url()},
        "metrics start k\nsettle 20\nmetrics tag new\nmetrics upload\nsettle 20\nstore count\n"
        "ps start UA-1-2 0\nps page /new\nps dispatch\nsettle 20\nps last-dispatch\n"));
    EXPECT_EQ(r.out, "ok\nidle\ntagged new\nok\nidle\n0\nok\nok\nyes\nidle\ndispatched 1 failed 0\n");
    EXPECT_EQ(r.err, "Metrics store is damaged; moved to " + metricsStore + ".corrupt\n"
                     "PageStats database is damaged; moved to " + hitStore + ".corrupt\n");
    metrics.stop();
    pages.stop();
    std::string sent;
    for (const std::string& line : metrics.requestLines()) sent += dktest::inflatedBody(line);
    EXPECT_NE(sent.find(R"("n":"new")"), std::string::npos);
    EXPECT_EQ(sent.find(R"("n":"old-)"), std::string::npos);
    ASSERT_EQ(pages.requestLines().size(), 1u);
    EXPECT_NE(pages.requestLines()[0].find("new"), std::string::npos);
}

}  // namespace
