// The process's store, uploader and session follow the main container, bundle and defaults: a
// second start in one process records into its own home's store.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analytics/trackwell/TrackwellDatabase.h"
#include "analytics/trackwell/TrackwellEnvironment.h"
#include "analytics/trackwell/TrackwellSession.h"
#include "analytics/trackwell/UploaderThread.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Servers.h"
#include "platform/net/tests/NetTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Bundle;
using plat::foundation::Container;

class SharedTrackwellTest : public ::testing::Test {
protected:
    void SetUp() override {
        dk::trackwell::setLogHook([this](std::string_view m) { log.emplace_back(m); });
        for (const char* name : {"trackwell.collector.1", "trackwell.collector.2"})
            plat::net::setServerBaseOverride(name, dktest::refusedURL());
    }
    void TearDown() override { dk::trackwell::setLogHook(nullptr); }

    // Makes `name`.app the main bundle and `home` the main container, as a start does.
    void start(const std::string& name, const std::string& home) {
        const std::string app = dir.file(name + ".app");
        std::filesystem::create_directories(app);
        dktest::writeFile(app + "/Info.plist",
                          "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.test." + name +
                              "</string></dict></plist>");
        std::optional<Bundle> bundle = Bundle::open(app);
        std::optional<Container> container = Container::open("com.test." + name, dir.file(home));
        ASSERT_TRUE(bundle && container);
        Bundle::setMain(std::move(*bundle));
        Container::setMain(std::move(*container));
    }
    // Starts the shared session and lets its (refused) upload end.
    void startSession(const std::string& key) {
        TrackwellSession::sharedTrackwellSession().startSession(key);
        ASSERT_TRUE(dktest::runUntil(plat::foundation::RunLoop::main(),
                                     [] { return !UploaderThread::sharedUploaderThread().isUploading(); }));
    }

    dktest::TempDir dir;
    std::vector<std::string> log;
};

TEST_F(SharedTrackwellTest, ASecondStartOnAnotherHomeRecordsInItsOwnStore) {
    ASSERT_NO_FATAL_FAILURE(start("game", "first"));
    TrackwellSession& first = TrackwellSession::sharedTrackwellSession();
    TrackwellDatabase& firstStore = TrackwellDatabase::sharedTrackwellDatabase();
    EXPECT_EQ(firstStore.path(), TrackwellDatabase::trackwellDatabasePath());
    startSession("key-1");
    const std::string firstBlobs = firstStore.uploadBlobString();
    EXPECT_NE(firstBlobs.find("key-1"), std::string::npos) << firstBlobs;

    ASSERT_NO_FATAL_FAILURE(start("game", "second"));
    TrackwellSession& second = TrackwellSession::sharedTrackwellSession();
    TrackwellDatabase& secondStore = TrackwellDatabase::sharedTrackwellDatabase();
    EXPECT_NE(&second, &first);
    EXPECT_NE(&secondStore, &firstStore);
    EXPECT_EQ(secondStore.path(), TrackwellDatabase::trackwellDatabasePath());
    EXPECT_EQ(secondStore.path().rfind(dir.file("second/"), 0), 0u) << secondStore.path();
    EXPECT_EQ(secondStore.uploadBlobString(), "");
    startSession("key-2");
    const std::string secondBlobs = secondStore.uploadBlobString();
    EXPECT_NE(secondBlobs.find("key-2"), std::string::npos) << secondBlobs;
    EXPECT_EQ(secondBlobs.find("key-1"), std::string::npos) << secondBlobs;
    EXPECT_EQ(firstStore.uploadBlobString(), firstBlobs);

    // Another game on the first home has a session of its own; the first game there finds its
    // own three again.
    ASSERT_NO_FATAL_FAILURE(start("other", "first"));
    EXPECT_NE(&TrackwellSession::sharedTrackwellSession(), &first);
    ASSERT_NO_FATAL_FAILURE(start("game", "first"));
    EXPECT_EQ(&TrackwellSession::sharedTrackwellSession(), &first);
    EXPECT_EQ(&TrackwellDatabase::sharedTrackwellDatabase(), &firstStore);
}

}  // namespace
