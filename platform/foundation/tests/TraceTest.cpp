// Trace lines (format, category filter, destination) and log lines.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/tests/FoundationTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::foundation;

TraceCategory kNet("net");
TraceCategory kStore("store");

// What `fn` writes to standard output or standard error (fd 1 or 2).
std::string captured(int fd, const std::function<void()>& fn) {
    fd == 1 ? testing::internal::CaptureStdout() : testing::internal::CaptureStderr();
    fn();
    return fd == 1 ? testing::internal::GetCapturedStdout() : testing::internal::GetCapturedStderr();
}

// The category word of each line.
std::string categoriesIn(const std::string& text) {
    std::istringstream in(text);
    std::string stamp, category, rest, out;
    while (in >> stamp >> category && std::getline(in, rest)) out += category + "\n";
    return out;
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The lines' clock at a known time: a quarter past a whole second.
        Clock::process().setVirtual(true);
        double now = Clock::process().now(), at = std::floor(now) + 1.25;
        RunLoop::main().runFor(at - now);
        t = "t=" + std::to_string(std::lround(at - 0.25)) + ".250000 ";
    }
    void TearDown() override { Trace::configure("", ""); }

    const dktest::ScopedEnv env{{"DROVIK_TRACE", std::nullopt}, {"DROVIK_TRACE_FILE", std::nullopt}};
    dktest::TempDir dir;
    std::string file = dir.file("trace.txt");
    std::string t;  // the lines' time stamp
};

TEST_F(TraceTest, LinesCarryTheClockTheCategoryAndTheText) {
    ASSERT_TRUE(Trace::configure("net,notify", file.c_str()));
    trace(kNet, "GET http://127.0.0.1/x 200");
    tracef(kNet, "%d bytes", 512);
    NotificationCenter center;
    int reachability;
    center.post("DKNetworkReachabilityChangedNotification", Sender{&reachability, "DKReachability"});
    center.post("DKSceneDidChangeNotification");
    EXPECT_EQ(dktest::readFile(file),
              t + "net GET http://127.0.0.1/x 200\n" +  //
                  t + "net 512 bytes\n" +               //
                  t + "notify DKNetworkReachabilityChangedNotification from DKReachability\n" + t +
                  "notify DKSceneDidChangeNotification\n");
}

TEST_F(TraceTest, OnlyTheChosenCategoriesAreWritten) {
    const struct {
        const char* categories;
        const char* lines;
    } cases[] = {
        {"net", "net\n"}, {"store,net", "net\nstore\n"}, {"all", "net\nstore\n"},
        {"", ""},         {"ne,netx,,stor", ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Trace::configure(c.categories, file.c_str()));
        int made = 0;
        trace(kNet, [&] { return std::to_string(++made); });
        trace(kStore, "x");
        EXPECT_EQ(categoriesIn(dktest::readFile(file)), c.lines) << c.categories;
        EXPECT_EQ(made, kNet.on() ? 1 : 0) << "the text is made only when written";
    }
}

TEST_F(TraceTest, DestinationsComeFromOptionsThenTheEnvironment) {
    const dktest::ScopedEnv set{{"DROVIK_TRACE", "store"}, {"DROVIK_TRACE_FILE", file}};
    ASSERT_TRUE(Trace::configure(nullptr, nullptr));
    trace(kStore, "to the file");
    EXPECT_EQ(dktest::readFile(file), t + "store to the file\n");

    ASSERT_TRUE(Trace::configure("net", "-"));  // options win
    EXPECT_EQ(captured(1, [] { trace(kNet, "out"), trace(kStore, "not this"); }), t + "net out\n");
    ASSERT_TRUE(Trace::configure("net", ""));
    EXPECT_EQ(captured(2, [] { trace(kNet, "err"); }), t + "net err\n");

    const std::string message =
        captured(2, [&] { EXPECT_FALSE(Trace::configure("net", (dir.path() + "/none/t.txt").c_str())); });
    EXPECT_NE(message.find("cannot open trace file " + dir.path() + "/none/t.txt"), std::string::npos)
        << message;
    EXPECT_EQ(captured(2, [] { trace(kNet, "still"); }), t + "net still\n");
}

TEST(Log, WritesOneLineExactlyAsGiven) {
    EXPECT_EQ(captured(2, [] { log("Drovik Network: connection failure."); }),
              "Drovik Network: connection failure.\n");
    EXPECT_EQ(captured(2, [] { log("ORBAD_INFO: %s %d\n", "ads", 3); }), "ORBAD_INFO: ads 3\n");
    EXPECT_EQ(captured(2, [] { logText(std::string(300, 'x')); }), std::string(300, 'x') + "\n");
}

}  // namespace
