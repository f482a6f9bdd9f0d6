// Banner formats and providers in the test process: the format arithmetic, where each provider
// puts its banner on the phone and the tablet held either way, what it refuses, and callbacks of
// views it has let go.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "orbad/OrbadAdViewStandIn.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/RunLoop.h"
#include "platform/services/adbanner/ADBannerView.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "player/app/DrovikPlayerAppDelegate.h"
#include "player/plugins/banner/DKOrbadBannerAdProvider.h"
#include "player/plugins/banner/DKiAdProvider.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

using plat::ui::Rect;

TEST(BannerHelper, SplitsAFormatIntoSizeClassPositionAndVertical) {
    const struct Case {
        int format;  // as the action gets it, already narrowed to 32 bits
        std::uint32_t sizeClass, position;
        bool vertical;
    } cases[] = {
        {0, 0, 0, false},   {1, 0, 1, false},   {2, 2, 0, false},   {3, 2, 1, false},   {4, 4, 0, true},
        {5, 4, 1, true},    {6, 4, 2, true},    {7, 4, 3, true},    {8, 8, 0, false},   {9, 8, 1, false},
        {10, 8, 2, false},  {11, 8, 3, false},  {12, 12, 0, false}, {13, 12, 1, false}, {14, 12, 2, false},
        {15, 12, 3, false}, {16, 12, 4, false}, {1000, 12, 988, false},
        {INT_MAX, 12, 0x7ffffff3u, false},
        // Negative formats are huge: size class 12, never vertical.
        {-1, 12, 0xfffffff3u, false}, {-4, 12, 0xfffffff0u, false}, {INT_MIN, 12, 0x7ffffff4u, false},
    };
    for (const Case& c : cases) {
        const auto format = static_cast<std::uint32_t>(c.format);
        EXPECT_EQ(DKBannerHelper::convertToSizeIndexFromBannerFormat(format), c.sizeClass) << c.format;
        EXPECT_EQ(DKBannerHelper::convertToPositionIndexForBannerFormat(format), c.position) << c.format;
        EXPECT_EQ(DKBannerHelper::isVerticalBannerAd(format), c.vertical) << c.format;
    }
}

// What a provider reports, and which orientations it is told are supported.
class Recorder : public DKBannerAdProviderDelegate {
public:
    void adDidLoad() override { events.push_back("load"); }
    void adLoadFailedWithError(const plat::foundation::Error& e) override { events.push_back("fail " + e.message); }
    void adClicked() override { events.push_back("click"); }
    void adClickFinished() override { events.push_back("back"); }
    bool isSupportedOrientation(int orientation) override { return supported.count(orientation) > 0; }

    std::vector<std::string> events;
    std::set<int> supported = {1, 2, 3, 4};
};

// The expected text data/<name>.txt; with DK_UPDATE_EXPECTED=1 written from `actual` instead.
std::string expected(const std::string& name, const std::string& actual) {
    const std::string path = std::string(DK_TEST_DATA_DIR) + "/" + name + ".txt";
    if (dktest::updatingExpected()) writeFile(path, actual);
    return readFile(path);
}

std::string describe(const std::shared_ptr<plat::ui::View>& view) {
    if (!view) return "none";
    const Rect& f = view->frame();
    char text[96];
    std::snprintf(text, sizeof text, "%g,%g,%g,%g", f.x, f.y, f.width, f.height);
    return text;
}

// The application of the player's delegate, unlaunched, on a virtual clock; its key window's root
// frame and the status bar's orientation set by each case; the container in a scratch directory.
class BannerProviderTest : public testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        useOrientations("<string>UIInterfaceOrientationPortrait</string>"
                        "<string>UIInterfaceOrientationLandscapeRight</string>");
        plat::foundation::Container::setMain(*plat::foundation::Container::open("com.test.banner", m_dir.file("home")));
        m_app = std::make_unique<plat::ui::Application>(std::make_unique<DrovikPlayerAppDelegate>(), &m_loop);
        m_window = std::make_shared<plat::ui::Window>(Rect{0, 0, 320, 480});
        m_window->setRootViewController(std::make_shared<plat::ui::ViewController>());
        m_window->makeKeyAndVisible();
    }
    void TearDown() override {
        m_window.reset();
        m_app.reset();
        plat::sys::Device::current().reset();
    }
    void useOrientations(const std::string& names) {
        std::filesystem::create_directories(m_dir.file("Game.app"));
        writeFile(m_dir.file("Game.app/Info.plist"),
                  "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.test.banner</string>"
                  "<key>UISupportedInterfaceOrientations</key><array>" + names + "</array></dict></plist>");
        plat::foundation::Bundle::setMain(*plat::foundation::Bundle::open(m_dir.file("Game.app")));
    }
    // The device (its idiom), the interface's orientation and the root view's frame: the screen's
    // points, turned for 3 and 4.
    void hold(const char* preset, int orientation) {
        plat::sys::Device::current().setPreset(preset);
        m_app->setStatusBarOrientation(orientation);
        const plat::sys::DevicePreset& screen = plat::sys::Device::current().preset();
        const bool landscape = orientation == 3 || orientation == 4;
        m_window->setFrame({0, 0, landscape ? screen.height : screen.width, landscape ? screen.width : screen.height});
        m_window->rootViewController()->view()->setFrame(m_window->bounds());
    }
    void writeService(const char* name, const std::string& entries) {
        std::filesystem::create_directories(m_dir.file("home/Library/LocalServices"));
        writeFile(m_dir.file("home/Library/LocalServices/") + name + ".plist",
                  "<plist version=\"1.0\"><dict>" + entries + "</dict></plist>");
    }

    TempDir m_dir;
    plat::foundation::RunLoop m_loop{std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual)};
    std::unique_ptr<plat::ui::Application> m_app;
    std::shared_ptr<plat::ui::Window> m_window;
};

// Every format on the phone (320x480) and the tablet (768x1024), portrait and landscape: the
// banner's frame, or none where the idiom refuses its size class; refusals make no view and
// report nothing. Compared with data/banner-orbad-layout.txt.
TEST_F(BannerProviderTest, OrbadLayoutOnPhoneAndTablet) {
    std::string actual;
    for (const char* preset : {"phone", "tablet"})
        for (const int orientation : {1, 3})
            for (const int format : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, -1}) {
                hold(preset, orientation);
                Recorder recorder;
                DKOrbadBannerAdProvider provider;
                provider.setDelegate(&recorder);
                const std::shared_ptr<plat::ui::View> view = provider.generateBannerAdWithFormat(format);
                actual += std::string(preset) + " " + std::to_string(orientation) + " " + std::to_string(format) +
                          ": " + describe(view) + (view ? std::string(" ") + view->className() : "") + "\n";
                EXPECT_TRUE(recorder.events.empty());
            }
    EXPECT_EQ(actual, expected("banner-orbad-layout", actual));
}

TEST_F(BannerProviderTest, IAdSizesPositionsAndRefusals) {
    Recorder recorder;
    {
        // No service: the class is absent, nothing is made and nothing reported.
        DKiAdProvider provider;
        provider.setDelegate(&recorder);
        EXPECT_FALSE(provider.generateBannerAdWithFormat(1));
    }
    writeService("adbanner", "<key>landscape</key><dict><key>width</key><integer>1024</integer>"
                             "<key>height</key><integer>66</integer></dict>");
    const struct Case {
        const char* preset;
        int orientation;
        std::set<int> supported;
        int format;
        const char* frame;
    } cases[] = {
        {"phone", 1, {1, 3}, 5, "none"},  // vertical
        {"phone", 1, {1, 3}, 1, "0,430,320,50"},
        {"phone", 1, {1, 3}, 0, "0,0,320,50"},
        {"phone", 1, {1, 3}, 13, "0,430,320,50"},
        {"phone", 1, {1, 3}, 14, "0,0,320,50"},  // positions other than 1 are the top
        {"phone", 3, {1, 3}, 1, "0,254,1024,66"},
        {"tablet", 3, {1, 3}, 1, "0,702,1024,66"},
        {"tablet", 1, {1, 3}, 1, "0,974,320,50"},
        // Held in an orientation the game does not support: the first it lists (portrait here).
        {"tablet", 3, {1}, 1, "0,974,320,50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " " + std::to_string(c.orientation) + " " + std::to_string(c.format));
        hold(c.preset, c.orientation);
        recorder.supported = c.supported;
        DKiAdProvider provider;
        provider.setDelegate(&recorder);
        const std::shared_ptr<plat::ui::View> view = provider.generateBannerAdWithFormat(c.format);
        EXPECT_EQ(describe(view), c.frame);
        if (!view) continue;
        EXPECT_EQ(view->backgroundColor(), (plat::ui::Color{1, 0, 0, 1}));
        // The view is kept whatever the next format asks for; a vertical one is still refused.
        EXPECT_EQ(provider.generateBannerAdWithFormat(12), view);
        EXPECT_FALSE(provider.generateBannerAdWithFormat(6));
    }
    EXPECT_TRUE(recorder.events.empty());
}

// A view its provider has freed calls back with nothing to show for it, from either provider.
TEST_F(BannerProviderTest, FreedViewsChangeNothing) {
    writeService("adbanner", "");
    hold("phone", 1);
    Recorder recorder;
    {
        DKiAdProvider provider;
        provider.setDelegate(&recorder);
        auto old = std::static_pointer_cast<plat::adbanner::ADBannerView>(provider.generateBannerAdWithFormat(1));
        provider.freeBannerAd();
        ASSERT_NE(provider.generateBannerAdWithFormat(1), old);
        old->adDidLoad();
        old->adDidFail("late");
        old->actionBegins();
        old->actionEnds();
        EXPECT_FALSE(provider.isActionInProgress());
    }
    {
        DKOrbadBannerAdProvider provider;
        provider.setDelegate(&recorder);
        auto old = std::static_pointer_cast<OrbadAdViewStandIn>(provider.generateBannerAdWithFormat(1));
        provider.freeBannerAd();
        ASSERT_NE(provider.generateBannerAdWithFormat(1), old);
        old->adDidLoad();
        old->adDidFail("late");
        old->touchThrough();
        old->touchThroughEnds();
    }
    EXPECT_EQ(recorder.events, std::vector<std::string>{});
}

// Two clicks of the input script at the same instant: both are read before either acts, and the
// second finds an action already under way, on either provider's view.
TEST_F(BannerProviderTest, ClicksOfOneInstantBeginOneAction) {
    writeService("adbanner", "");
    hold("phone", 1);
    Recorder recorder;
    DKiAdProvider iad;
    DKOrbadBannerAdProvider orbad;
    for (DKBannerAdProvider* provider : {static_cast<DKBannerAdProvider*>(&iad), static_cast<DKBannerAdProvider*>(&orbad)}) {
        provider->setDelegate(&recorder);
        ASSERT_TRUE(provider->generateBannerAdWithFormat(1));
        const auto first = plat::foundation::serviceCommandAction("banner.click", {});
        const auto second = plat::foundation::serviceCommandAction("banner.click", {});
        ASSERT_TRUE(first && second);
        first();
        second();
        provider->freeBannerAd();
    }
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"click", "click"}));
}

}  // namespace
}  // namespace dktest
