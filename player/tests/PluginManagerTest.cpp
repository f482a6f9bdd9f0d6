// The plugins of a game: their order, identifiers and controller, and who keeps them alive.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "player/plugins/banner/DKBannerAdSupport.h"
#include "player/plugins/DKDrovikNetworkSupport.h"
#include "player/plugins/DKFullScreenAdManager.h"
#include "player/plugins/DKGameCenterSupport.h"
#include "player/plugins/inapppurchase/DKInAppPurchaseSupport.h"
#include "player/plugins/keyboard/DKKeyboardInputSupport.h"
#include "player/plugins/DKKioskSupport.h"
#include "player/plugins/metrics/DKMetricsSupport.h"
#include "player/plugins/DKMoreGamesSupport.h"
#include "player/plugins/openurl/DKOpenURLSupport.h"
#include "player/plugins/DKPluginManager.h"
#include "player/plugins/twitter/DKTwitterSupport.h"
#include "player/plugins/probe/DKProbeSupport.h"
#include "player/tests/BridgeTestSupport.h"

namespace dktest {
namespace {

using Lines = std::vector<std::string>;
using Plugin = std::shared_ptr<DKPluginSupport>;

template <class T>
bool is(const Plugin& plugin) {
    return dynamic_cast<T*>(plugin.get()) != nullptr;
}

using PluginManager = BridgeTest;

TEST_F(PluginManager, CreatesTheElevenInTheirOrderWithTheirIdentifiers) {
    DKPluginManager manager;
    manager.loadPluginsForGameViewController(fakeController(1), state->L);
    // The first plugin's registration makes the table.
    EXPECT_EQ(trace.take(),
              (Lines{"bridge plugin 1 openUrl", "bridge table create", "bridge plugin 2 keyboardinput", "bridge plugin 3 metrics",
                     "bridge plugin 4 fullscreenadmanager", "bridge plugin 5 bannerAd",
                     "bridge plugin 6 gameCenter", "bridge plugin 7 inAppPurchase", "bridge plugin 8 kiosk",
                     "bridge plugin 9 drovikNetwork", "bridge plugin 10 showMoreGame",
                     "bridge plugin 11 Twitter"}));
    const struct {
        const char* identifier;
        std::function<bool(const Plugin&)> ofClass;
    } cases[] = {
        {"openUrl", is<DKOpenURLSupport>},
        {"keyboardinput", is<DKKeyboardInputSupport>},
        {"metrics", is<DKMetricsSupport>},
        {"fullscreenadmanager", is<DKFullScreenAdManager>},
        {"bannerAd", is<DKBannerAdSupport>},
        {"gameCenter", is<DKGameCenterSupport>},
        {"inAppPurchase", is<DKInAppPurchaseSupport>},
        {"kiosk", is<DKKioskSupport>},
        {"drovikNetwork", is<DKDrovikNetworkSupport>},
        {"showMoreGame", is<DKMoreGamesSupport>},
        {"Twitter", is<DKTwitterSupport>},
    };
    for (const auto& c : cases) {
        Plugin plugin = manager.pluginForIndentifier(c.identifier);
        ASSERT_TRUE(plugin) << c.identifier;
        EXPECT_TRUE(c.ofClass(plugin)) << c.identifier;
        EXPECT_EQ(plugin->gameViewController(), fakeController(1)) << c.identifier;
    }
    auto banner = std::dynamic_pointer_cast<DKBannerAdSupport>(manager.pluginForIndentifier("bannerAd"));
    auto moreGames =
        std::dynamic_pointer_cast<DKMoreGamesSupport>(manager.pluginForIndentifier("showMoreGame"));
    EXPECT_EQ(banner->pluginManager(), &manager);
    EXPECT_EQ(moreGames->pluginManager(), &manager);
    for (const char* absent : {"probe", "openURL", "twitter", ""})
        EXPECT_FALSE(manager.pluginForIndentifier(absent));

    // A second load makes new plugins, counted from 1 again.
    std::weak_ptr<DKPluginSupport> first = manager.pluginForIndentifier("openUrl");
    manager.loadPluginsForGameViewController(fakeController(2), state->L, true);
    EXPECT_TRUE(first.expired());
    const Lines again = trace.take();
    ASSERT_EQ(again.size(), 12u);
    EXPECT_EQ(again[0], "bridge plugin 1 openUrl");
    EXPECT_EQ(again[11], "bridge plugin 12 probe");
    EXPECT_TRUE(is<DKProbeSupport>(manager.pluginForIndentifier("probe")));
    EXPECT_EQ(manager.pluginForIndentifier("kiosk")->gameViewController(), fakeController(2));
    manager.deactivatePlugins();
    EXPECT_FALSE(manager.pluginForIndentifier("kiosk"));
}

TEST_F(PluginManager, APluginLivesWhileItsActionsOrItsManagerHoldIt) {
    std::weak_ptr<DKPluginSupport> probe, kiosk, gameCenter;
    {
        DKPluginManager manager;
        manager.loadPluginsForGameViewController(fakeController(1), state->L, true);
        probe = manager.pluginForIndentifier("probe");
        kiosk = manager.pluginForIndentifier("kiosk");
        gameCenter = manager.pluginForIndentifier("gameCenter");
    }
    EXPECT_TRUE(gameCenter.expired()) << "no actions without a game network: only the manager held it";
    ASSERT_FALSE(probe.expired()) << "its actions hold it";
    ASSERT_FALSE(kiosk.expired()) << "its actions hold it";
    trace.take();
    run("callbacks.callExternalFunction(9001)");
    EXPECT_EQ(trace.take(), (Lines{"bridge call 9001", "bridge probe.id 9001"}));
    DKExternalFunctionTable::destroyExternalFunctionTableForState(state->L);
    EXPECT_TRUE(probe.expired());
    EXPECT_TRUE(kiosk.expired());
}

}  // namespace
}  // namespace dktest
