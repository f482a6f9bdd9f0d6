// dk-kiosk-cli against a hostile server: the session-open request fails with the error said, in
// bounded memory, and a trickling server no longer holds it past its time-out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/RecordingServer.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kCli = DK_BINARY_DIR "/apps/dk-kiosk-cli/dk-kiosk-cli";

TEST(KioskCliHostile, TheApiAnswerIsBoundedInMemoryAndTime) {
    const struct {
        const char* answer;
        const char* failure;
    } attacks[] = {
        {R"({"attack": "gzip-zeros"})", "-1103 resource exceeds maximum size"},
        {R"({"attack": "big-body"})", "-1103 resource exceeds maximum size"},
        {R"({"attack": "endless-header"})", "-1011 bad server response"},
        {R"({"attack": "trickle"})", "-1001 The request timed out."},
    };
    for (const auto& a : attacks) {
        SCOPED_TRACE(a.answer);
        dktest::TempDir dir;
        dktest::HostileServer server(dir.file("server"), a.answer);
        ASSERT_TRUE(server.running());
        dktest::writeFile(dir.file("run.commands"), "peak-memory\nopen tok sec\nsettle 120\npeak-memory\n");
        dktest::ProcessResult r = dktest::runProcess({kCli, "--home", dir.file("home"), "--pasteboards",
                                                      dir.file("pasteboards"), "--clock", "real", "--endpoint",
                                                      "kiosk.api=" + server.url(), "--commands", dir.file("run.commands")});
        EXPECT_NE(r.out.find(std::string("delegate request:didFailWithError: KSPublisherOpenRequest NSURLErrorDomain ") +
                             a.failure + "\nidle\n"),
                  std::string::npos)
            << r.out;
        EXPECT_LT(dktest::peakMemoryGrowthKb(r.out), dktest::kAttackMemoryBoundKb) << r.out;
    }
}

}  // namespace
