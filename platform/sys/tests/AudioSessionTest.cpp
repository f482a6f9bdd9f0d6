// The audio session: categories, activation, injected failures and interruptions, and their traces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sys/AudioSession.h"
#include "platform/sys/Report.h"

namespace {

using namespace plat::sys;
using Lines = std::vector<std::string>;

class AudioSessionTest : public ::testing::Test, protected AudioSessionDelegate {
protected:
    void SetUp() override {
        session.reset();
        setReportHooks({[this](std::string_view category, std::string_view text) {
                            lines.push_back(std::string(category) + " " + std::string(text));
                        },
                        nullptr});
    }
    void TearDown() override {
        setReportHooks({});
        session.reset();
    }
    void beginInterruption() override { lines.push_back("delegate begin active=" + std::to_string(session.isActive())); }
    void endInterruption() override { lines.push_back("delegate end"); }

    AudioSession& session = AudioSession::shared();
    Lines lines;
};

TEST_F(AudioSessionTest, CallsSucceedOrFailAsInjected) {
    // Each step: an optional failure to inject, then one call; what it returns and reports.
    enum Call { Category, Activate, Deactivate };
    const struct {
        bool inject;
        Call call;
        const char* name;
        bool ok;
        const char* error;
        const char* trace;
    } steps[] = {
        {false, Category, "AVAudioSessionCategoryAmbient", true, "", "audio category AVAudioSessionCategoryAmbient"},
        {false, Category, "Ambient", false, "unknown audio session category Ambient", nullptr},
        {true, Category, "AVAudioSessionCategoryPlayback", false, "injected failure", nullptr},
        {false, Category, "AVAudioSessionCategoryPlayback", true, "", "audio category AVAudioSessionCategoryPlayback"},
        {true, Activate, "", false, "injected failure", nullptr},
        {false, Deactivate, "", true, "", "audio active 0"},  // a failed activation waits for its own kind
        {false, Activate, "", true, "", "audio active 1"},
        {true, Deactivate, "", false, "injected failure", nullptr},
        {false, Deactivate, "", true, "", "audio active 0"},
    };
    for (const auto& s : steps) {
        lines.clear();
        AudioSession::Operation op = s.call == Category   ? AudioSession::Operation::Category
                                     : s.call == Activate ? AudioSession::Operation::Activate
                                                          : AudioSession::Operation::Deactivate;
        if (s.inject) session.failNext(op);
        std::string error;
        bool ok = s.call == Category ? session.setCategory(s.name, &error) : session.setActive(s.call == Activate, &error);
        EXPECT_EQ(ok, s.ok) << s.name << " " << s.call;
        EXPECT_EQ(error, s.error) << s.name << " " << s.call;
        EXPECT_EQ(lines, s.trace ? Lines{s.trace} : Lines{}) << s.name << " " << s.call;
    }
    EXPECT_EQ(session.category(), "AVAudioSessionCategoryPlayback");
}

TEST_F(AudioSessionTest, InterruptionsDeactivateAndReachTheDelegateOnce) {
    ASSERT_TRUE(session.setActive(true));
    session.setDelegate(this);
    EXPECT_FALSE(session.endInterruption());
    EXPECT_TRUE(session.beginInterruption());
    EXPECT_FALSE(session.beginInterruption());
    EXPECT_TRUE(session.isInterrupted());
    EXPECT_TRUE(session.endInterruption());
    EXPECT_FALSE(session.endInterruption());
    session.setDelegate(nullptr);
    EXPECT_TRUE(session.beginInterruption());  // without a delegate: traced all the same
    const Lines expected{"audio active 1",          "audio interruption begin", "delegate begin active=0",
                         "audio interruption end",  "delegate end",             "audio interruption begin"};
    EXPECT_EQ(lines, expected);
}

}  // namespace
