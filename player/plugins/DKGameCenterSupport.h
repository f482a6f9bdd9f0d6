// Game Center ("gameCenter"): the local player's sign-in, scores and achievement progress posted
// to the local game network, its leaderboard and achievements screens, and a reset. Scores and
// achievement updates wait in queues until the network accepts them; the queues are mirrored per
// player in Documents/DK_GAMECENTER_SAVED_INFO.plist, so they survive sign-outs and the process.
// The script hears "PlatformConnected" ("1" signed in, "0" signed out). Every screen and alert
// pauses the game through the pause ledger. Main thread; the network's completions are handed to
// the main loop holding the plugin weakly.
//
// The network answers one call after another (a serial queue on the pool), each counted as work in
// flight, so a virtual clock never runs ahead of them; each change of the local player is posted
// ("GKPlayerAuthenticationDidChangeNotificationName") behind the answers already queued. Below system
// 6.0 the plugin signs in with the one-shot authenticate (the network shows its own sign-in screen as
// an overlay), observes that notification and takes the application's resign as a sign-out; from 6.0
// on it keeps the sign-in handler. Each mirror write replaces only the signed-in player's two keys (a
// damaged file is renamed ".damaged" first). A report that fails stalls the queues until the next
// trigger (reachable, sign-in, caches ready, a new report); a report on its way is never sent twice.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/services/gamenet/GameNetwork.h"
#include "platform/ui/AlertView.h"
#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/gamecenter/DKGameCenterAchievementSupport.h"

class DKGameCenterSupport : public DKPluginSupport,
                            private DKGameCenterAchievementSupportDelegate,
                            private plat::ui::AlertViewDelegate,
                            private plat::gamenet::GameScreenDelegate {
public:
    explicit DKGameCenterSupport(DKGameViewController* gameViewController);
    ~DKGameCenterSupport() override;
    static const char* pluginIdentifier() { return "gameCenter"; }

    // YES only when the class look-up answers YES for "GKLocalPlayer": the container holds the
    // local game network's configuration. Asked afresh at every call.
    static bool isGameCenterAvailable();
    // Systems from 6.0 on keep a sign-in handler that hears every later change; earlier ones
    // sign in once and observe the network's change notification and the application's resign.
    static bool signsInWithHandler();

    // The actions, by number: 0, 2, 3, 5, 4, 6.
    void authenticateLocalUser(DKGameViewController*);
    void reportScore(DKGameViewController*, float score, std::optional<std::string> category);
    void showLeaderboard(DKGameViewController*, std::optional<std::string> category, int32_t timeScope);
    void showAchievements(DKGameViewController*);
    void updateAchievement(DKGameViewController*, std::optional<std::string> identifier, float percent);
    void resetAchievements(DKGameViewController*);

    // 0 not signed in, 2 signing in, 1 signed in.
    int userAuthenticated() const { return m_userAuthenticated; }
    // 1 supported, 0 not available, 2 the game is not recognized.
    int gameCenterSupported() const { return m_gameCenterSupported; }
    const std::vector<plat::gamenet::Score>& pendingScores() const { return m_pendingScores; }
    const std::vector<plat::gamenet::Achievement>& pendingAchievements() const { return m_pendingAchievements; }

protected:
    void registerActions(lua_State* L) override;

private:
    bool checkGameCenterAvailability(bool alert);
    void processGameCenterAuth(std::shared_ptr<plat::ui::ViewController> screen, const plat::gamenet::Failure& error,
                               const plat::gamenet::PlayerState& player);
    void handleAuthEvent(bool signedIn);
    // The local player as the network has it now, taken as a sign-in result.
    void authStatusChanged();
    void tryReportingScore(size_t index);
    void scoreReported(const plat::gamenet::Score& score, const plat::gamenet::Failure& error);
    void tryUpdatingAchievement(size_t index);
    void achievementReported(const plat::gamenet::Achievement& achievement, const plat::gamenet::Failure& error);
    void reportFailed(const char* title, const plat::gamenet::Failure& error);
    void performPendingAction();
    void networkReachabilityChanged(int status);
    void savePendingData();
    void loadPendingData();
    void writePendingData();
    void displayAlert(const std::string& title, std::optional<std::string> message);
    void presentScreen(std::shared_ptr<plat::ui::ViewController> screen);

    void achievementSupportReady() override;
    void alertViewClickedButton(plat::ui::AlertView& alert, int index, const std::string& title) override;
    void gameScreenDidFinish(plat::gamenet::GameScreenViewController& screen) override;

    // A completion for the network that hands its results to `fn` on the main queue, with the
    // plugin held weakly: nothing runs once the plugin is gone.
    template <class Fn>
    auto onMain(Fn fn);

    int m_userAuthenticated = 0;
    int m_gameCenterSupported = 0;
    bool m_networkReachable = false;
    // A report failed (other than for a bad parameter): the queues wait for the next trigger
    // (reachable, a sign-in, the caches ready, a new report) instead of retrying at each dismissal.
    bool m_stalled = false;
    // Reports sent and not answered yet.
    int m_scoresInFlight = 0;
    int m_achievementsInFlight = 0;
    std::shared_ptr<DKGameCenterAchievementSupport> m_achievementSupport;
    std::vector<plat::gamenet::Score> m_pendingScores;
    std::vector<plat::gamenet::Achievement> m_pendingAchievements;
    std::optional<std::string> m_playerID;  // whose queues these are while signed in
    bool m_pendingShowAchievements = false;
    bool m_pendingShowLeaderboard = false;
    bool m_fullScreenDisplay = false;
    bool m_signInScreenUp = false;
    std::optional<std::string> m_pendingLeaderboardCategory;
    int32_t m_pendingLeaderboardScope = 0;
    std::shared_ptr<plat::ui::ViewController> m_screen;  // the leaderboard or achievements screen
    plat::foundation::Observation m_reachability;
    plat::foundation::Observation m_authenticationChanged;
    plat::foundation::Observation m_resignActive;
};
