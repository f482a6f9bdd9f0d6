#include "player/plugins/DKGameCenterSupport.h"

#include <ctime>

#include "analytics/TrackwellSession.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "platform/util/DKReachability.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/controller/DKGameViewController.h"
#include "player/plugins/gamecenter/DKGKViewControllers.h"
#include "player/plugins/gamecenter/DKGameCenterPendingFile.h"
#include "player/plugins/gamecenter/GKAchievementHandler.h"

namespace {

using plat::gamenet::Failure;
namespace gamecenter = dk::player::gamecenter;

constexpr const char* kNotRecognized = "This application is not recognized by Game Center";
constexpr const char* kNotAvailable = "Game Center is not available on this device";

bool isNetworkError(const Failure& error, int code) {
    return error && error->domain == plat::gamenet::kErrorDomain && error->code == code;
}

void tag(const char* event, TrackwellSession::Attributes attributes) {
    TrackwellSession::sharedTrackwellSession().tagEvent(event, attributes);
}

std::string pendingFilePath() {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    if (!container) return {};
    const std::string documents = container->documentsPath();
    return documents.empty() ? std::string() : documents + "/" + gamecenter::kPendingFileName;
}

}  // namespace

bool DKGameCenterSupport::isGameCenterAvailable() {
    // The profile's system version is 6.x here, above the 4.1 the network needs; asked all the same.
    return plat::gamenet::isPresent() &&
           plat::sys::compareVersions(plat::sys::Device::current().systemVersion(), "4.1") >= 0;
}

DKGameCenterSupport::DKGameCenterSupport(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController) {
    if (!isGameCenterAvailable()) return;
    m_gameCenterSupported = 1;
    m_achievementSupport = std::make_shared<DKGameCenterAchievementSupport>();
    m_achievementSupport->setDelegate(this);
    auto& center = plat::foundation::NotificationCenter::defaultCenter();
    m_reachability = center.observe(
        DKNetworkReachabilityChangedNotification, nullptr, [this](const plat::foundation::Notification& note) {
            const auto* reachability = static_cast<const DKReachability*>(note.sender.object);
            networkReachabilityChanged(reachability ? reachability->currentReachabilityStatus() : 0);
        });
    if (!signsInWithHandler()) {
        // These systems call the sign-in's completion once: later sign-outs and account changes
        // come only as the notification, and leaving the application counts as signing out.
        m_authenticationChanged = center.observe(plat::gamenet::kPlayerAuthenticationDidChangeNotification, nullptr,
                                                 [this](const plat::foundation::Notification&) { authStatusChanged(); });
        m_resignActive = center.observe(plat::ui::kApplicationWillResignActiveNotification,
                                        plat::ui::Application::shared(),
                                        [this](const plat::foundation::Notification&) { handleAuthEvent(false); });
    }
    // The network's input-script commands exist from here on, not only from the first sign-in.
    plat::gamenet::GameNetwork::shared();
}

bool DKGameCenterSupport::signsInWithHandler() {
    return plat::sys::Device::current().systemVersionFloat() >= 6.0f;
}

DKGameCenterSupport::~DKGameCenterSupport() {
    if (m_achievementSupport) m_achievementSupport->setDelegate(nullptr);
}

void DKGameCenterSupport::registerActions(lua_State* L) {
    if (!m_gameCenterSupported) return;
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKGameCenterSupport>(), gameViewController(),
        {{0, &DKGameCenterSupport::authenticateLocalUser},
         {2, &DKGameCenterSupport::reportScore},
         {3, &DKGameCenterSupport::showLeaderboard},
         {5, &DKGameCenterSupport::showAchievements},
         {4, &DKGameCenterSupport::updateAchievement},
         {6, &DKGameCenterSupport::resetAchievements}});
}

template <class Fn>
auto DKGameCenterSupport::onMain(Fn fn) {
    // Made on the main thread; called on the network's worker thread.
    return [plugin = weak_from_this(), fn](auto&&... results) {
        plat::foundation::mainAsync([plugin, fn, results...]() mutable {
            if (auto self = plugin.lock()) fn(static_cast<DKGameCenterSupport&>(*self), results...);
        });
    };
}

bool DKGameCenterSupport::checkGameCenterAvailability(bool alert) {
    if (alert && m_gameCenterSupported == 2) displayAlert(kNotRecognized, std::nullopt);
    if (alert && m_gameCenterSupported == 0) displayAlert(kNotAvailable, std::nullopt);
    return m_gameCenterSupported == 1;
}

// Sign-in.

void DKGameCenterSupport::authenticateLocalUser(DKGameViewController*) {
    auto* app = plat::ui::Application::shared();
    const int deviceOrientation = plat::sys::Device::current().orientation();
    if (app && deviceOrientation >= 1 && deviceOrientation <= 4) app->setStatusBarOrientation(deviceOrientation, true);
    DKGameViewController* controller = gameViewController();
    if (!controller || !controller->readyToPlay() || !checkGameCenterAvailability(true) || m_userAuthenticated != 0)
        return;
    auto* network = plat::gamenet::GameNetwork::shared();
    if (!network) return;
    m_userAuthenticated = 2;
    // The handler or completion is kept by the network and called on its worker thread; the
    // result is handled on the main thread.
    if (signsInWithHandler()) {
        network->setAuthenticateHandler(
            onMain([](DKGameCenterSupport& self, const std::shared_ptr<plat::ui::ViewController>& screen,
                      const Failure& error, const plat::gamenet::PlayerState& player) {
                self.processGameCenterAuth(screen, error, player);
            }));
    } else {
        network->authenticate(
            onMain([](DKGameCenterSupport& self, const Failure& error, const plat::gamenet::PlayerState& player) {
                self.processGameCenterAuth(nullptr, error, player);
            }));
    }
}

void DKGameCenterSupport::authStatusChanged() {
    const plat::gamenet::GameNetwork* network = plat::gamenet::GameNetwork::shared();
    processGameCenterAuth(nullptr, std::nullopt, network ? network->localPlayer() : plat::gamenet::PlayerState{});
}

void DKGameCenterSupport::processGameCenterAuth(std::shared_ptr<plat::ui::ViewController> screen,
                                                const Failure& error, const plat::gamenet::PlayerState& player) {
    if (m_signInScreenUp) {
        // The sign-in screen has ended (the network took it off).
        m_signInScreenUp = false;
        resumeGame();
    }
    if (screen) {
        DKGameViewController* controller = gameViewController();
        if (!controller) return;
        pauseGame(false);
        controller->presentViewController(screen, false);
        m_signInScreenUp = screen->presentingViewController() != nullptr;
        if (!m_signInScreenUp) resumeGame();
        return;
    }
    if (isNetworkError(error, plat::gamenet::kErrorGameUnrecognized)) {
        m_gameCenterSupported = 2;
        displayAlert(kNotRecognized, std::nullopt);
        return;
    }
    if (isNetworkError(error, plat::gamenet::kErrorNotSupported)) {
        m_gameCenterSupported = 0;
        displayAlert(kNotAvailable, std::nullopt);
        return;
    }
    if (isNetworkError(error, plat::gamenet::kErrorCancelled)) {
        handleAuthEvent(false);
        return;
    }
    if (player.authenticated && player.playerID) {
        // Another account replacing the signed-in one: the old one's queues go to the file first.
        if (m_userAuthenticated == 1 && m_playerID != player.playerID) handleAuthEvent(false);
        m_playerID = player.playerID;
        handleAuthEvent(true);
    } else {
        handleAuthEvent(false);
    }
}

void DKGameCenterSupport::handleAuthEvent(bool signedIn) {
    if (signedIn && m_userAuthenticated != 1) {
        m_userAuthenticated = 1;
        m_stalled = false;
        loadPendingData();
        m_achievementSupport->loadAchievements(true);
        m_achievementSupport->loadAchievementDescriptions(true);
        performPendingAction();
        raiseEvent("PlatformConnected", {"1"});
    } else if (!signedIn && m_userAuthenticated != 0) {
        savePendingData();  // while the state is still the old one
        m_userAuthenticated = 0;
        m_playerID.reset();
        m_achievementSupport->clearAchievementsCache();
        m_achievementSupport->clearDescriptionsCache();
        m_achievementSupport->setNotReady();
        raiseEvent("PlatformConnected", {"0"});
    }
}

// Scores.

void DKGameCenterSupport::reportScore(DKGameViewController*, float score, std::optional<std::string> category) {
    if (!checkGameCenterAvailability(false) || m_userAuthenticated == 0) return;
    const std::optional<int64_t> value = gamecenter::scoreValue(score);
    if (!value) return;  // NaN: nothing the network could rank
    m_pendingScores.push_back({std::move(category), *value, static_cast<double>(std::time(nullptr))});
    writePendingData();
    m_stalled = false;
    tryReportingScore(m_pendingScores.size() - 1);
}

void DKGameCenterSupport::tryReportingScore(size_t index) {
    auto* network = plat::gamenet::GameNetwork::shared();
    if (!m_networkReachable || m_userAuthenticated == 2 || !network) return;
    const plat::gamenet::Score score = m_pendingScores[index];
    ++m_scoresInFlight;
    network->reportScore(score, onMain([score](DKGameCenterSupport& self, const Failure& error) {
        --self.m_scoresInFlight;
        self.scoreReported(score, error);
    }));
}

namespace {
template <class Item>
bool removeItem(std::vector<Item>& list, const Item& item, bool (*same)(const Item&, const Item&)) {
    for (auto it = list.begin(); it != list.end(); ++it)
        if (same(*it, item)) {
            list.erase(it);
            return true;
        }
    return false;
}
bool sameScore(const plat::gamenet::Score& a, const plat::gamenet::Score& b) {
    return a.category == b.category && a.value == b.value && a.date == b.date;
}
bool sameAchievement(const plat::gamenet::Achievement& a, const plat::gamenet::Achievement& b) {
    return a.identifier == b.identifier && a.percentComplete == b.percentComplete;
}
}  // namespace

void DKGameCenterSupport::scoreReported(const plat::gamenet::Score& score, const Failure& error) {
    if (!error) {
        TrackwellSession::Attributes attributes{{"p", "applegc"}};
        if (score.category) attributes.emplace("lb", *score.category);
        tag("postScore", attributes);
        if (removeItem(m_pendingScores, score, sameScore)) writePendingData();
        performPendingAction();
        return;
    }
    if (isNetworkError(error, plat::gamenet::kErrorInvalidParameter) && removeItem(m_pendingScores, score, sameScore))
        writePendingData();
    reportFailed("Score report failed", error);
}

// Achievements.

void DKGameCenterSupport::updateAchievement(DKGameViewController*, std::optional<std::string> identifier,
                                           float percent) {
    if (!checkGameCenterAvailability(false) || m_userAuthenticated == 0) return;
    m_pendingAchievements.push_back({identifier.value_or(""), static_cast<double>(percent)});
    writePendingData();
    m_stalled = false;
    tryUpdatingAchievement(m_pendingAchievements.size() - 1);
}

void DKGameCenterSupport::tryUpdatingAchievement(size_t index) {
    auto* network = plat::gamenet::GameNetwork::shared();
    if (!m_networkReachable || m_userAuthenticated == 2 || !m_achievementSupport->achievementsReady() ||
        !m_achievementSupport->descriptionsReady() || !network)
        return;
    const plat::gamenet::Achievement pending = m_pendingAchievements[index];
    plat::gamenet::Achievement* cached = m_achievementSupport->achievementForIdentifier(pending.identifier);
    if (cached && cached->percentComplete < pending.percentComplete) {
        const double before = cached->percentComplete;
        cached->percentComplete = pending.percentComplete;
        ++m_achievementsInFlight;
        network->reportAchievement(*cached, onMain([pending, before](DKGameCenterSupport& self, const Failure& error) {
            --self.m_achievementsInFlight;
            if (error) {
                // The network still holds the old progress: a cache left ahead of it would make
                // the kept item's retry look like no progress, and drop it unsent.
                plat::gamenet::Achievement* stored =
                    self.m_achievementSupport->achievementForIdentifier(pending.identifier);
                if (stored && stored->percentComplete == pending.percentComplete) stored->percentComplete = before;
            }
            self.achievementReported(pending, error);
        }));
        return;
    }
    // Unknown, or no progress: never sent.
    m_pendingAchievements.erase(m_pendingAchievements.begin() + static_cast<std::ptrdiff_t>(index));
    writePendingData();
    performPendingAction();
}

void DKGameCenterSupport::achievementReported(const plat::gamenet::Achievement& achievement, const Failure& error) {
    if (!error) {
        tag("updateAchievement", {{"p", "applegc"}, {"a", achievement.identifier}});
        if (removeItem(m_pendingAchievements, achievement, sameAchievement)) writePendingData();
        if (achievement.percentComplete >= 100.0) {
            const auto* description = m_achievementSupport->descriptionForIdentifier(achievement.identifier);
            GKAchievementHandler::defaultHandler().notifyAchievementTitle(
                description ? description->title : "Cheese Updated!",
                description ? description->achievedDescription : "");
        }
        performPendingAction();
        return;
    }
    if (isNetworkError(error, plat::gamenet::kErrorInvalidParameter) &&
        removeItem(m_pendingAchievements, achievement, sameAchievement))
        writePendingData();
    reportFailed("Achievement report failed", error);
}

void DKGameCenterSupport::reportFailed(const char* title, const Failure& error) {
    if (!isNetworkError(error, plat::gamenet::kErrorInvalidParameter)) m_stalled = true;
    displayAlert(title, error->message);
}

void DKGameCenterSupport::achievementSupportReady() {
    m_stalled = false;
    performPendingAction();
}

void DKGameCenterSupport::resetAchievements(DKGameViewController*) {
    if (m_userAuthenticated == 1) m_achievementSupport->resetAchievements();
}

// Screens.

void DKGameCenterSupport::showLeaderboard(DKGameViewController*, std::optional<std::string> category,
                                         int32_t timeScope) {
    if (!checkGameCenterAvailability(false) || m_fullScreenDisplay) return;
    m_pendingShowLeaderboard = true;
    m_pendingLeaderboardCategory = category;
    m_pendingLeaderboardScope = timeScope;
    if (m_userAuthenticated == 2) return;
    if (m_userAuthenticated == 0) {
        authenticateLocalUser(gameViewController());
        return;
    }
    tag("launchService", {{"p", "applegc"}, {"s", "ldrbrd"}, {"pid", category.value_or("")}});
    m_pendingShowLeaderboard = false;
    auto screen = std::make_shared<DKGKLeaderboardViewController>(std::move(category), timeScope);
    screen->setDelegate(std::shared_ptr<plat::gamenet::GameScreenDelegate>(self<DKGameCenterSupport>(), this));
    presentScreen(std::move(screen));
}

void DKGameCenterSupport::showAchievements(DKGameViewController*) {
    if (!checkGameCenterAvailability(false) || m_fullScreenDisplay) return;
    m_pendingShowAchievements = true;
    if (m_userAuthenticated == 2) return;
    if (m_userAuthenticated == 0) {
        authenticateLocalUser(gameViewController());
        return;
    }
    tag("launchService", {{"p", "applegc"}, {"s", "achmnts"}, {"pid", " "}});
    m_pendingShowAchievements = false;
    auto screen = std::make_shared<DKGKAchievementViewController>();
    screen->setDelegate(std::shared_ptr<plat::gamenet::GameScreenDelegate>(self<DKGameCenterSupport>(), this));
    presentScreen(std::move(screen));
}

void DKGameCenterSupport::presentScreen(std::shared_ptr<plat::ui::ViewController> screen) {
    DKGameViewController* controller = gameViewController();
    if (!controller) return;
    controller->presentViewController(screen, false);
    if (!screen->presentingViewController()) return;  // refused (logged): nothing to wait for
    m_screen = std::move(screen);
    pauseGame(false);
    m_fullScreenDisplay = true;
}

void DKGameCenterSupport::gameScreenDidFinish(plat::gamenet::GameScreenViewController& screen) {
    if (m_screen.get() != &screen) return;
    std::shared_ptr<plat::ui::ViewController> gone = std::move(m_screen);
    gone->dismissViewController(false);
    resumeGame();
    m_fullScreenDisplay = false;
    performPendingAction();
}

// The queues.

void DKGameCenterSupport::performPendingAction() {
    if (m_pendingShowLeaderboard) {
        showLeaderboard(gameViewController(), m_pendingLeaderboardCategory, m_pendingLeaderboardScope);
    } else if (m_pendingShowAchievements) {
        showAchievements(gameViewController());
    } else if (m_stalled) {
        return;
    } else if (!m_pendingScores.empty()) {
        // What is on its way is not sent again: its answer makes the next step.
        if (m_scoresInFlight == 0) tryReportingScore(0);
    } else if (!m_pendingAchievements.empty()) {
        if (m_achievementsInFlight == 0) tryUpdatingAchievement(0);
    }
}

void DKGameCenterSupport::networkReachabilityChanged(int status) {
    if (status == 1 || status == 2) {
        m_networkReachable = true;
        if (m_userAuthenticated == 1) {
            m_stalled = false;
            performPendingAction();
        }
    } else if (status == 0) {
        m_networkReachable = false;
    }
}

void DKGameCenterSupport::savePendingData() {
    if (m_userAuthenticated == 1) writePendingData();
    m_pendingShowAchievements = m_pendingShowLeaderboard = false;
    m_pendingScores.clear();
    m_pendingAchievements.clear();
}

void DKGameCenterSupport::loadPendingData() {
    if (m_userAuthenticated != 1 || !m_playerID) {
        m_pendingScores.clear();
        m_pendingAchievements.clear();
        return;
    }
    // The file's items first, then those reported while signing in.
    gamecenter::PendingQueues queues = gamecenter::readPendingQueues(pendingFilePath(), *m_playerID);
    queues.scores.insert(queues.scores.end(), m_pendingScores.begin(), m_pendingScores.end());
    queues.achievements.insert(queues.achievements.end(), m_pendingAchievements.begin(), m_pendingAchievements.end());
    m_pendingScores = std::move(queues.scores);
    m_pendingAchievements = std::move(queues.achievements);
    writePendingData();
}

void DKGameCenterSupport::writePendingData() {
    // Only a signed-in player's queues have a place in the file.
    if (m_userAuthenticated != 1 || !m_playerID) return;
    const std::string path = pendingFilePath();
    if (!path.empty()) gamecenter::writePendingQueues(path, *m_playerID, {m_pendingScores, m_pendingAchievements});
}

// Alerts.

void DKGameCenterSupport::displayAlert(const std::string& title, std::optional<std::string> message) {
    pauseGame(false);
    auto alert = std::make_shared<plat::ui::AlertView>(
        title, std::move(message), std::vector<std::string>{"Cancel"},
        std::shared_ptr<plat::ui::AlertViewDelegate>(self<DKGameCenterSupport>(), this));
    alert->show();
}

void DKGameCenterSupport::alertViewClickedButton(plat::ui::AlertView&, int, const std::string&) {
    resumeGame();
    performPendingAction();
}
