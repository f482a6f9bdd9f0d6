// dk-analytics-cli against a hostile server: the metrics upload reads only the status (a body is
// never inflated), the page-view dispatcher refuses a head that never ends, and each costs the
// process a bounded memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/analytics/MetricsCliSupport.h"
#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

struct Attack {
    const char* answer;
    const char* upload;    // how every collector's request ended
    const char* kept;      // events left in the store
    const char* dispatch;  // the page-view dispatch's outcome
};

const Attack kAttacks[] = {
    {R"({"attack": "gzip-zeros"})", "Upload completed successfully. Response code 200", "0", "dispatched 1 failed 0"},
    {R"({"attack": "big-body"})", "Upload completed successfully. Response code 200", "0", "dispatched 0 failed 1"},
    {R"({"attack": "endless-header"})", "Error Uploading.  Code: -1011,  Description: bad server response", "3",
     "dispatched 0 failed 1"},
};

TEST(AnalyticsCliHostile, UploadsAndDispatchesEndInBoundedMemory) {
    for (const Attack& a : kAttacks) {
        SCOPED_TRACE(a.answer);
        dktest::TempDir dir;
        dktest::HostileServer server(dir.file("server"), a.answer);
        ASSERT_TRUE(server.running());
        dktest::ProcessResult r = dktest::runProcess(dktest::metricsCli(
            dir.file("metrics"),
            {"--log", "--endpoint", "trackwell.collector.1=" + server.url(), "--endpoint",
             "trackwell.collector.2=" + server.url()},
            "metrics start k\nsettle 120\nmetrics tag again\npeak-memory\nmetrics upload\nsettle 120\nstore count\n"
            "peak-memory\n"));
        EXPECT_NE(r.out.find("idle\n" + std::string(a.kept) + "\n"), std::string::npos) << r.out;
        std::size_t outcomes = 0;
        for (std::size_t at = r.err.find(a.upload); at != std::string::npos; at = r.err.find(a.upload, at + 1))
            ++outcomes;
        EXPECT_EQ(outcomes, 4u) << r.err;  // the start's upload and the tag's, each to both collectors
        EXPECT_LT(dktest::peakMemoryGrowthKb(r.out), dktest::kAttackMemoryBoundKb);

        r = dktest::runProcess(dktest::metricsCli(
            dir.file("pages"), {"--endpoint", "pagestats.collector=" + server.url()},
            "ps start UA-1-2 0\nps page /a\npeak-memory\nps dispatch\nsettle 120\nps last-dispatch\npeak-memory\n"));
        EXPECT_NE(r.out.find(std::string("idle\n") + a.dispatch + "\n"), std::string::npos) << r.out;
        EXPECT_LT(dktest::peakMemoryGrowthKb(r.out), dktest::kAttackMemoryBoundKb);
    }
}

}  // namespace
