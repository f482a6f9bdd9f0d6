// The application delegate's pure answers: the metrics session key from the Info.plist's
// identifiers, where the scene-loading indicator sits, and where the saves go.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "analytics/pagestats/PSPersistentHitStore.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/HeadlessHost.h"
#include "platform/sys/Device.h"
#include "player/app/DrovikPlayerAppDelegate.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

using plat::foundation::Bundle;

TEST(AppDelegateTest, MetricsKeyTakesOnlyLettersMarksDigitsAndDashes) {
    const struct Case {
        const char* entries;  // Info.plist entries
        const char* key;
    } cases[] = {
        {"<key>DKUserID</key><string>ab-12</string>", "ab-12-null"},
        {"<key>DKUserID</key><string>u1</string><key>DKAppID</key><string>app-7</string>", "u1-app-7"},
        {"<key>DKUserID</key><string>a b</string><key>DKAppID</key><string>x</string>", "null-x"},
        {"<key>DKUserID</key><string></string>", "null-null"},
        {"<key>DKUserID</key><string>-</string><key>DKAppID</key><string>--</string>", "----"},
        {"<key>DKUserID</key><string>a.b</string>", "null-null"},
        // Not a string: invalid, never its description.
        {"<key>DKUserID</key><integer>12</integer><key>DKAppID</key><true/>", "null-null"},
        // Unicode letters, combining marks and digits of any script.
        {"<key>DKUserID</key><string>\u00e9l\u00e8ve</string><key>DKAppID</key><string>e\u0301\u0663</string>",
         "\u00e9l\u00e8ve-e\u0301\u0663"},
        {"<key>DKUserID</key><string>\u2603</string>", "null-null"},
    };
    TempDir dir;
    std::filesystem::create_directories(dir.file("Key.app"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        writeFile(dir.file("Key.app/Info.plist"),
                  std::string("<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.test.key</string>") +
                      c.entries + "</dict></plist>");
        Bundle::setMain(*Bundle::open(dir.file("Key.app")));
        EXPECT_EQ(DrovikPlayerAppDelegate::metricsSessionKey(), c.key);
    }
}

TEST(AppDelegateTest, IndicatorSitsInTheBottomRightCornerOfEachOrientation) {
    plat::sys::Device::current().reset();  // the retina phone: 320 x 480 points
    const struct Case {
        int orientation;
        plat::ui::Rect frame;
    } cases[] = {
        {1, {279, 439, 41, 41}},
        {2, {279, 439, 41, 41}},
        {3, {439, 279, 41, 41}},
        {4, {439, 279, 41, 41}},
    };
    for (const Case& c : cases) {
        const plat::ui::Rect frame = DrovikPlayerAppDelegate::activityIndicatorFrameForInterfaceOrientation(c.orientation);
        EXPECT_EQ(frame.x, c.frame.x) << c.orientation;
        EXPECT_EQ(frame.y, c.frame.y) << c.orientation;
        EXPECT_EQ(frame.width, 41);
        EXPECT_EQ(frame.height, 41);
    }
}

// The start-up screen's release is a delayed call of the delegate: a delegate gone before it is
// due (a quit between play and the release) takes it along.
TEST(AppDelegateTest, TheDelayedReleaseDiesWithTheDelegate) {
    TempDir dir;
    std::filesystem::copy(DK_TEST_DATA_DIR "/Probe.app", dir.file("Probe.app"), std::filesystem::copy_options::recursive);
    writeFile(dir.file("input.txt"), "5.5 app.quit\n");
    plat::host::HostOptions options;
    options.bundle = dir.file("Probe.app");
    options.home = dir.file("home");
    options.headless = true;
    options.input = dir.file("input.txt");
    options.trace = "startup";
    options.traceFile = dir.file("trace.txt");
    testing::internal::CaptureStderr();
    {
        plat::host::HeadlessHost driver(options);
        std::string message;
        ASSERT_EQ(driver.prepare(&message), 0) << message;
        ASSERT_EQ(driver.run(std::make_unique<DrovikPlayerAppDelegate>(), &message), 0) << message;
    }
    // Past the release's time, with the delegate gone.
    plat::foundation::RunLoop::main().runFor(2);
    testing::internal::GetCapturedStderr();
    plat::foundation::Trace::configure("", "");
    const std::string trace = readFile(dir.file("trace.txt"));
    EXPECT_NE(trace.find("t=5.000000 startup start\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("releaseStartUp"), std::string::npos) << trace;
}

}  // namespace
}  // namespace dktest

// A home whose Documents cannot be made (a file or a dangling link at its name): the start is told
// why, naming the folder, and neither the save path nor the page-view store's path leaves the home
// (an empty answer made both start at the root).
TEST(AppDelegateTest, AHomeWithoutDocumentsKeepsEverySavePathInIt) {
    dktest::TempDir dir;
    const std::string home = dir.file("home"), documents = home + "/Documents";
    for (const std::string why : {"a file is in its place", "a symbolic link to nothing is in its place"}) {
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        if (why[2] == 'f')
            dktest::writeFile(documents, "in the way");
        else
            std::filesystem::create_symlink(dir.file("gone/Documents"), documents);
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.saves", home));
        EXPECT_EQ(DrovikPlayerAppDelegate::homeProblem(),
                  "the home's folder " + documents + ": " + why + "; nothing is saved outside the home");
        EXPECT_EQ(DrovikPlayerAppDelegate::savePath(), std::nullopt);
        EXPECT_EQ(PSPersistentHitStore::defaultPath(), "");
        EXPECT_FALSE(dktest::exists(dir.file("gone")));
    }
}
