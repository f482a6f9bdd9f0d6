// The game view controller in the test process: the orientation answers it gets from the
// application's delegate, memory warnings against whatever the script keeps as its asset
// manager, zipped games, and the engine's callbacks reaching the main thread.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "player/app/DKOrientationAnswers.h"
#include "player/app/DrovikPlayerAppDelegate.h"
#include "player/controller/DKGameViewController.h"
#include "player/plugins/banner/DKBannerAdSupport.h"
#include "tests/support/TestSupport.h"

namespace dktest {
namespace {

namespace fs = std::filesystem;
using plat::foundation::Bundle;
using plat::foundation::RunLoop;

// An Info.plist whose "UISupportedInterfaceOrientations" holds `orientations` (none: no entry).
std::string infoPlist(const std::optional<std::vector<std::string>>& orientations) {
    std::string text =
        "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.test.probe</string>";
    if (orientations) {
        text += "<key>UISupportedInterfaceOrientations</key><array>";
        for (const std::string& name : *orientations) text += "<string>" + name + "</string>";
        text += "</array>";
    }
    return text + "</dict></plist>";
}

class GameViewControllerTest : public testing::Test {
protected:
    void SetUp() override {
        plat::foundation::Clock::process().setVirtual(true);
        plat::sys::Device::current().reset();
        fs::copy(DK_TEST_DATA_DIR "/Probe.app", m_dir.file("Probe.app"), fs::copy_options::recursive);
        useBundle(std::nullopt);
    }
    void useBundle(const std::optional<std::vector<std::string>>& orientations) {
        writeFile(m_dir.file("Probe.app/Info.plist"), infoPlist(orientations));
        Bundle::setMain(*Bundle::open(m_dir.file("Probe.app")));
    }

    TempDir m_dir;
};

TEST_F(GameViewControllerTest, OrientationAnswersComeFromTheInfoPlist) {
    const std::string left = "UIInterfaceOrientationLandscapeLeft",
                      right = "UIInterfaceOrientationLandscapeRight";
    const std::string up = "UIInterfaceOrientationPortrait",
                      down = "UIInterfaceOrientationPortraitUpsideDown";
    const struct Case {
        std::optional<std::vector<std::string>> list;
        unsigned mask;     // the controller's supported orientations
        unsigned window;   // the delegate's answer for the window
        int any;           // getAnySupportedOrientation
        int preferred[5];  // preferredInterfaceOrientationForPresentation, device held 0 to 4
    } cases[] = {
        {std::nullopt, 0, 26, 1, {1, 1, 1, 1, 1}},
        {std::vector<std::string>{}, 0, 26, 1, {1, 1, 1, 1, 1}},
        // Not the device, not the last orientation (4 at creation): the first listed.
        {std::vector<std::string>{up}, 2, 26, 1, {1, 1, 1, 1, 1}},
        {std::vector<std::string>{right, left}, 24, 26, 3, {4, 4, 4, 3, 4}},
        {std::vector<std::string>{down, up}, 6, 30, 2, {2, 1, 2, 2, 2}},
        // Any other name counts as landscape right.
        {std::vector<std::string>{"Sideways", up}, 10, 26, 3, {3, 1, 3, 3, 3}},
    };
    RunLoop loop(std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual));
    plat::ui::Application app(std::make_unique<DrovikPlayerAppDelegate>(), &loop);
    auto controller = DKGameViewController::create(std::nullopt);
    ASSERT_TRUE(controller);
    for (const Case& c : cases) {
        useBundle(c.list);
        SCOPED_TRACE(testing::Message() << "mask " << c.mask);
        EXPECT_EQ(controller->supportedInterfaceOrientations(), c.mask);
        EXPECT_EQ(*app.delegate()->supportedInterfaceOrientationsForWindow(app, nullptr), c.window);
        EXPECT_EQ(DKApplicationOrientationAnswers()->getAnySupportedOrientation(), c.any);
        for (int o = 1; o <= 4; ++o)
            EXPECT_EQ(controller->shouldAutorotateToInterfaceOrientation(o), (c.mask >> o & 1) != 0) << o;
        for (int device = 0; device <= 4; ++device) {
            plat::sys::Device::current().setOrientation(device);
            EXPECT_EQ(controller->preferredInterfaceOrientationForPresentation(), c.preferred[device])
                << device;
        }
    }
    // The interface orientation: the status bar's from system 6.0, the device's below it.
    app.setStatusBarOrientation(3);
    plat::sys::Device::current().setOrientation(2);
    EXPECT_EQ(DKApplicationOrientationAnswers()->getInterfaceOrientation(), 3);
    plat::sys::Device::current().setSystemVersion("5.1.1");
    EXPECT_EQ(DKApplicationOrientationAnswers()->getInterfaceOrientation(), 2);
}

// Whatever the script keeps in sharedAssetManager, a warning calls flushAssets only where there
// is one to call, never outside a protected call, and leaves the Lua stack as it found it.
TEST_F(GameViewControllerTest, MemoryWarningsFlushOnlyWhatCanBeFlushed) {
    auto controller = DKGameViewController::create(std::nullopt);
    ASSERT_TRUE(controller);
    lua_State* L = controller->gameState()->L;
    const struct Case {
        const char* manager;
        const char* flushed;  // what flushAssets noted, twice over
    } cases[] = {
        {"nil", "nil"},
        {"5", "nil"},
        {"'text'", "nil"},
        {"{}", "nil"},
        {"{ flushAssets = 5 }", "nil"},
        {"{ flushAssets = function(self) flushed = (flushed or '') .. (self == sharedAssetManager and "
         "'self;' or '?;') end }",
         "self;self;"},
        {"{ flushAssets = function() flushed = (flushed or '') .. 'failing;' error('flush failed') end }",
         "failing;failing;"},
        {"setmetatable({}, { __index = function() error('no fields') end })", "nil"},
        {"(function() local p = newproxy(true) getmetatable(p).__index = { flushAssets = function(self) "
         "flushed = (flushed or '') .. type(self) .. ';' end } return p end)()",
         "userdata;userdata;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.manager);
        ASSERT_EQ(runLua(L, std::string("flushed = nil sharedAssetManager = ") + c.manager), "");
        const int top = lua_gettop(L);
        controller->didReceiveMemoryWarning();
        controller->didReceiveMemoryWarning();
        EXPECT_EQ(lua_gettop(L), top);
        EXPECT_EQ(runLua(L, "return flushed"), c.flushed);
    }
}

// Unpacked beside the archive; the first game project there is loaded, and without one nothing is.
TEST_F(GameViewControllerTest, ZippedGames) {
    const fs::path previous = fs::current_path();
    RunLoop loop(std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual));
    plat::ui::Application app(std::make_unique<DKOrientationAnswers>(), &loop);
    for (const char* archive : {"nogame.zip", "game.zip"}) {
        SCOPED_TRACE(archive);
        TempDir dir;
        fs::copy(std::string(DK_TEST_DATA_DIR "/") + archive, dir.file(archive));
        auto controller = DKGameViewController::create(std::nullopt);
        ASSERT_TRUE(controller);
        const std::string project = controller->loadZippedGameFromPath(dir.file(archive));
        const std::string loaded = archive == std::string("game.zip") ? dir.file("Zipped.gameproj") : "";
        EXPECT_EQ(project, loaded);
        EXPECT_EQ(controller->currentGamePath(), loaded);
        EXPECT_EQ(controller->pluginManager() != nullptr, !loaded.empty());
    }
    fs::current_path(previous);
}

struct NotingDelegate : DKGameViewControllerDelegate {
    std::vector<std::string> notes;
    void note(const char* what) {
        notes.push_back(std::string(what) + (RunLoop::main().isCurrentThread() ? " on main" : " elsewhere"));
    }
    void gameLoadingWillStart(DKGameViewController&) override { note("willStart"); }
    void gameLoadingWillEnd(DKGameViewController&) override { note("willEnd"); }
    void gameDidEnd(DKGameViewController&) override { note("didEnd"); }
};

// The loading callbacks run on the main thread while the engine waits; game-did-end is queued,
// also when the engine calls it on the main thread.
TEST_F(GameViewControllerTest, EngineCallbacksReachTheMainThread) {
    auto controller = DKGameViewController::create(std::nullopt);
    ASSERT_TRUE(controller);
    NotingDelegate delegate;
    controller->setDelegate(&delegate);
    const DKCallbackInfo& callbacks = controller->gameState()->callbacks;
    ASSERT_EQ(callbacks.externalData, controller->gameState()->L);

    callbacks.gameDidEnd(callbacks.userData);
    EXPECT_TRUE(delegate.notes.empty());
    RunLoop::main().runOnce(0);
    EXPECT_EQ(delegate.notes, std::vector<std::string>{"didEnd on main"});

    bool returned = false;
    std::thread engine([&] {
        callbacks.loadingWillStart(callbacks.userData);
        callbacks.loadingWillEnd(callbacks.userData);
        returned = true;
    });
    while (delegate.notes.size() < 3) RunLoop::main().runOnce(1);
    engine.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(delegate.notes,
              (std::vector<std::string>{"didEnd on main", "willStart on main", "willEnd on main"}));
}

// A banner provider's question whether an orientation is supported: before 6.0 the game view
// controller answers it orientation by orientation, whatever the delegate; from 6.0 on it is read
// from the supported mask, which only the player's own delegate knows how to do.
TEST_F(GameViewControllerTest, BannersAskTheRotationQuestionOfTheirSystem) {
    useBundle(std::vector<std::string>{"UIInterfaceOrientationLandscapeRight", "UIInterfaceOrientationPortrait"});
    const struct Case {
        bool playersDelegate;
        const char* version;
        bool supported[6];  // orientations 0 to 5
    } cases[] = {
        {true, "6.1", {false, true, false, true, false, false}},
        {true, "5.1", {false, true, false, true, false, false}},
        {false, "6.1", {false, false, false, false, false, false}},
        {false, "5.1", {false, true, false, true, false, false}},
    };
    RunLoop loop(std::make_shared<plat::foundation::Clock>(plat::foundation::Clock::Kind::Virtual));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.version << (c.playersDelegate ? " player's delegate" : " other delegate"));
        plat::sys::Device::current().setSystemVersion(c.version);
        std::unique_ptr<plat::ui::ApplicationDelegate> delegate;
        if (c.playersDelegate)
            delegate = std::make_unique<DrovikPlayerAppDelegate>();
        else
            delegate = std::make_unique<DKOrientationAnswers>();
        plat::ui::Application app(std::move(delegate), &loop);
        auto controller = DKGameViewController::create(std::nullopt);
        ASSERT_TRUE(controller);
        auto banner = std::make_shared<DKBannerAdSupport>(controller.get(), nullptr);
        for (int o = 0; o < 6; ++o) EXPECT_EQ(banner->isSupportedOrientation(o), c.supported[o]) << o;
    }
    plat::sys::Device::current().reset();
}

}  // namespace
}  // namespace dktest
