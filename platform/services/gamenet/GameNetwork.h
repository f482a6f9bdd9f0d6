// The local game network: this machine's stand-in for the phone's game network. It is there only
// while the main container holds Library/LocalServices/gamenetwork.plist, whose keys are
//   player        the account of this machine (absent: none; a sign-in ends unauthenticated)
//   signIn        "auto" (default), "screen" (a sign-in screen first, ended by the input script's
//                 "gamenet.screen ok|cancel"), or an error code every sign-in answers
//   achievements  identifier -> percent: the player's stored progress
//   descriptions  array of {identifier, title, achievedDescription}
// Accepted reports update the stored progress, kept per player in gamenetwork-state.plist beside
// the configuration, so a later run starts from it. Everything is asked on the main thread; the
// completions run on a worker thread, and each call returns once its completion has run there (so
// what a completion posts to the main queue is there in the same turn, in the order caused). What the network receives is traced
// under "gamenet" ("score CATEGORY VALUE", "achievement ID PERCENT", "reset", "screen ...").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/ui/ViewController.h"

namespace plat::gamenet {

// The configuration's name under Library/LocalServices/.
inline constexpr const char* kServiceName = "gamenetwork";
inline constexpr const char* kErrorDomain = "GKErrorDomain";
// Posted on the main thread after the local player's sign-in state or account has changed (its
// sender: none). Systems before 6.0 learn of a sign-out or another account only this way.
inline constexpr const char* kPlayerAuthenticationDidChangeNotification =
    "GKPlayerAuthenticationDidChangeNotificationName";
// The network's error codes the game reacts to.
enum ErrorCode : int {
    kErrorCancelled = 2,
    kErrorGameUnrecognized = 15,
    kErrorNotSupported = 16,
    kErrorInvalidParameter = 17,
};

foundation::TraceCategory& gamenetTrace();

// Registers the network's classes ("GKLocalPlayer") with the class look-up; a repeated call
// registers them again, the same.
void registerClasses();

// Whether the class look-up answers YES for "GKLocalPlayer" (registering the classes first).
bool isPresent();

struct Score {
    std::optional<std::string> category;
    int64_t value = 0;
    double date = 0;  // seconds since 1970
};

struct Achievement {
    std::string identifier;
    double percentComplete = 0;
};

struct AchievementDescription {
    std::string identifier;
    std::string title;
    std::string achievedDescription;
};

// The local player as a sign-in result saw it.
struct PlayerState {
    bool authenticated = false;
    std::optional<std::string> playerID;
};

using Failure = std::optional<foundation::Error>;
using Completion = std::function<void(const Failure&)>;
// The sign-in handler: a screen to present (then called again once it has ended), or the result.
using AuthenticateHandler =
    std::function<void(std::shared_ptr<ui::ViewController> screen, const Failure& error, const PlayerState& player)>;
// The one-shot sign-in of systems before 6.0.
using AuthenticateCompletion = std::function<void(const Failure& error, const PlayerState& player)>;

// The leaderboard and achievements screens: what was asked for, and a Done control that tells
// the delegate (held weakly). Made with std::make_shared.
class GameScreenViewController;
class GameScreenDelegate {
public:
    virtual ~GameScreenDelegate() = default;
    virtual void gameScreenDidFinish(GameScreenViewController& screen) = 0;
};

class GameScreenViewController : public ui::ViewController {
public:
    explicit GameScreenViewController(std::string heading) : m_heading(std::move(heading)) {}
    void setDelegate(std::weak_ptr<GameScreenDelegate> delegate) { m_delegate = std::move(delegate); }
    const std::string& heading() const { return m_heading; }
    // The Done control.
    void done();
    void loadView() override;
    void viewDidAppear(bool animated) override;

private:
    std::string m_heading;
    std::weak_ptr<GameScreenDelegate> m_delegate;
};

class LeaderboardViewController : public GameScreenViewController {
public:
    // `scope`: 0 today, 1 this week, 2 all time.
    LeaderboardViewController(std::optional<std::string> category, int scope);
    const char* className() const override { return "GKLeaderboardViewController"; }
    const std::optional<std::string>& category() const { return m_category; }
    int timeScope() const { return m_scope; }

private:
    std::optional<std::string> m_category;
    int m_scope;
};

class AchievementViewController : public GameScreenViewController {
public:
    AchievementViewController() : GameScreenViewController("Achievements") {}
    const char* className() const override { return "GKAchievementViewController"; }
};

class GameNetwork {
public:
    // The network while it is present (its configuration read when first asked for, and again
    // after it was absent); null while absent. Main thread.
    static GameNetwork* shared();
    ~GameNetwork();
    GameNetwork(const GameNetwork&) = delete;
    GameNetwork& operator=(const GameNetwork&) = delete;

    PlayerState localPlayer() const { return m_player; }

    // Keeps `handler` and signs in as the configuration says; every later change of the account
    // (the input script's sign-in and sign-out) calls it again.
    void setAuthenticateHandler(AuthenticateHandler handler);
    // Signs in as the configuration says and answers once; a sign-in screen is shown by the
    // network itself, over the application. Later changes are only posted
    // (kPlayerAuthenticationDidChangeNotification).
    void authenticate(AuthenticateCompletion completion);
    void reportScore(const Score& score, Completion completion);
    void reportAchievement(const Achievement& achievement, Completion completion);
    void loadAchievements(std::function<void(std::vector<Achievement>, const Failure&)> completion);
    void loadAchievementDescriptions(std::function<void(std::vector<AchievementDescription>, const Failure&)> completion);
    void resetAchievements(Completion completion);

private:
    GameNetwork();
    void readConfiguration();
    void loadProgress();
    void saveProgress();
    // As the configuration says: an error, a sign-in screen (handed to the handler, or shown by
    // the network itself), or the account.
    void startSignIn(bool showsOwnScreen);
    void callHandler(std::shared_ptr<ui::ViewController> screen, Failure error);
    // Every change of m_player goes through here, so each one is posted.
    void setPlayer(PlayerState player);
    void deliver(std::function<void()> completion);
    Failure takeFailure(const std::string& kind);
    void signIn(std::optional<std::string> player);
    void endSignInScreen(bool ok);
    void registerCommands();

    struct State;
    std::unique_ptr<State> m_state;
    PlayerState m_player;
};

}  // namespace plat::gamenet
