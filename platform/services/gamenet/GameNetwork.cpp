#include "platform/services/gamenet/GameNetwork.h"

#include <cstdio>
#include <map>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/LocalServices.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/sys/ClassRegistry.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"

namespace plat::gamenet {

using foundation::Value;

foundation::TraceCategory& gamenetTrace() {
    static foundation::TraceCategory category("gamenet");
    return category;
}

void registerClasses() {
    foundation::registerLocalServiceClass("GKLocalPlayer", kServiceName);
}

bool isPresent() {
    registerClasses();
    return sys::hasClass("GKLocalPlayer");
}

namespace {

std::weak_ptr<GameScreenViewController>& screenOnDisplay() {
    static std::weak_ptr<GameScreenViewController> screen;
    return screen;
}

foundation::Error networkError(int code, std::string description) {
    return foundation::Error{kErrorDomain, code, std::move(description), {}};
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

void GameScreenViewController::done() {
    if (auto delegate = m_delegate.lock()) delegate->gameScreenDidFinish(*this);
}

void GameScreenViewController::loadView() {
    auto* app = ui::Application::shared();
    const ui::Rect bounds = app ? app->interfaceBounds() : ui::Rect{0, 0, 320, 480};
    auto view = std::make_shared<ui::View>(bounds);
    view->setBackgroundColor(ui::Color{0.15, 0.2, 0.3, 1});
    view->setAutoresizingMask(18);  // flexible width and height
    auto heading = std::make_shared<ui::Label>(ui::Rect{10, 60, bounds.width - 20, 30});
    heading->setText(m_heading);
    heading->setTextColor(ui::Color{1, 1, 1, 1});
    heading->setTextAlignment(ui::TextAlignment::Center);
    view->addSubview(heading);
    auto done = std::make_shared<ui::Button>(ui::Rect{bounds.width - 70, 10, 60, 30});
    done->setTitle(foundation::Bundle::localized("Done"));
    done->addTarget(this, [this](ui::Button&) { this->done(); });
    view->addSubview(done);
    setView(view);
}

void GameScreenViewController::viewDidAppear(bool) {
    screenOnDisplay() = std::static_pointer_cast<GameScreenViewController>(shared_from_this());
    foundation::trace(gamenetTrace(), "screen " + m_heading);
}

LeaderboardViewController::LeaderboardViewController(std::optional<std::string> category, int scope)
    : GameScreenViewController("leaderboard " + category.value_or("null") + " " + std::to_string(scope)),
      m_category(std::move(category)),
      m_scope(scope) {}

// The configuration as read, the progress of every player met, and what the script armed.
struct GameNetwork::State {
    std::optional<std::string> configuredPlayer;
    std::optional<int> signInError;  // an error code every sign-in answers
    bool signInScreen = false;
    Value::Dictionary configuredProgress;
    std::vector<AchievementDescription> descriptions;
    Value::Dictionary progress;  // player -> {achievements: {id: percent}, scores: {category: value}}
    std::string statePath;
    AuthenticateHandler handler;
    AuthenticateCompletion completion;  // the one-shot sign-in's, until it has answered
    std::shared_ptr<ui::ViewController> signInScreenShown;
    std::map<std::string, foundation::Error> armed;  // "score", "achievement", "reset"
};

GameNetwork* GameNetwork::shared() {
    // Never destroyed while present: the input script's table and the worker pool go at exit in
    // an order of their own.
    static GameNetwork* network = nullptr;
    if (!isPresent()) {
        delete network;
        network = nullptr;
        return nullptr;
    }
    if (!network) network = new GameNetwork();
    return network;
}

GameNetwork::GameNetwork() : m_state(std::make_unique<State>()) {
    readConfiguration();
    loadProgress();
    registerCommands();
}

GameNetwork::~GameNetwork() {
    for (const char* name : {"gamenet.signin", "gamenet.signout", "gamenet.screen", "gamenet.done", "gamenet.fail"})
        foundation::unregisterServiceCommand(name);
}

void GameNetwork::readConfiguration() {
    const std::optional<Value> config = foundation::readLocalService(kServiceName);
    if (!config) return;
    if (const Value* player = config->find("player"); player && player->string())
        m_state->configuredPlayer = *player->string();
    if (const Value* signIn = config->find("signIn")) {
        if (signIn->string() && *signIn->string() == "screen")
            m_state->signInScreen = true;
        else if (signIn->type() == Value::Type::Integer)
            m_state->signInError = static_cast<int>(signIn->intValue());
    }
    if (const Value* progress = config->find("achievements"); progress && progress->dictionary())
        m_state->configuredProgress = *progress->dictionary();
    if (const Value* list = config->find("descriptions"); list && list->array())
        for (const Value& entry : *list->array()) {
            const Value* identifier = entry.find("identifier");
            if (!identifier || !identifier->string()) continue;
            const Value* title = entry.find("title");
            const Value* achieved = entry.find("achievedDescription");
            m_state->descriptions.push_back({*identifier->string(), title ? title->description() : "",
                                             achieved ? achieved->description() : ""});
        }
    const std::string path = foundation::localServicePath(kServiceName);
    m_state->statePath = path.substr(0, path.size() - 6) + "-state.plist";
}

void GameNetwork::loadProgress() {
    std::optional<Value> saved = foundation::readPropertyList(m_state->statePath);
    if (saved && saved->dictionary()) m_state->progress = std::move(*saved->dictionary());
}

void GameNetwork::saveProgress() {
    foundation::Error error;
    if (!foundation::writePropertyList(m_state->statePath, Value(m_state->progress), foundation::PropertyListFormat::Xml,
                                       &error))
        foundation::log("gamenet: %s", error.message.c_str());
}

namespace {
// The player's entry of `progress`, made from the configuration the first time.
Value::Dictionary& playerProgress(Value::Dictionary& progress, const std::string& player,
                                  const Value::Dictionary& configured) {
    Value& entry = progress[player];
    if (!entry.dictionary()) entry = Value::Dictionary{{"achievements", configured}, {"scores", Value::Dictionary{}}};
    return *entry.dictionary();
}
Value::Dictionary& section(Value::Dictionary& entry, const char* name) {
    Value& value = entry[name];
    if (!value.dictionary()) value = Value::Dictionary{};
    return *value.dictionary();
}
}  // namespace

void GameNetwork::deliver(std::function<void()> completion) {
    // On a worker thread, as on the device, one answer after the other in the order of the calls
    // (a sign-out handed on before the sign-in that follows it). The pool counts each answer as
    // work in flight until it has run, so a virtual clock waits for what it posts.
    static auto* answers = new foundation::SerialQueue("gamenet");
    answers->async(std::move(completion));
}

void GameNetwork::callHandler(std::shared_ptr<ui::ViewController> screen, Failure error) {
    if (!screen && m_state->completion) {
        AuthenticateCompletion completion = std::move(m_state->completion);
        m_state->completion = nullptr;
        deliver([completion = std::move(completion), error, player = m_player] { completion(error, player); });
    }
    if (!m_state->handler) return;
    deliver([handler = m_state->handler, screen = std::move(screen), error = std::move(error), player = m_player] {
        handler(screen, error, player);
    });
}

void GameNetwork::setPlayer(PlayerState player) {
    const bool changed = player.authenticated != m_player.authenticated || player.playerID != m_player.playerID;
    m_player = std::move(player);
    if (!changed) return;
    // Behind the answers already on their way, as the device tells of the change after them.
    deliver([] {
        foundation::mainAsync(
            [] { foundation::NotificationCenter::defaultCenter().post(kPlayerAuthenticationDidChangeNotification); });
    });
}

void GameNetwork::setAuthenticateHandler(AuthenticateHandler handler) {
    m_state->handler = std::move(handler);
    startSignIn(false);
}

void GameNetwork::authenticate(AuthenticateCompletion completion) {
    m_state->completion = std::move(completion);
    startSignIn(true);
}

void GameNetwork::startSignIn(bool showsOwnScreen) {
    if (m_state->signInError) {
        setPlayer({false, std::nullopt});
        callHandler(nullptr, networkError(*m_state->signInError, "The requested operation could not be completed."));
    } else if (m_state->signInScreen && !m_player.authenticated) {
        if (!showsOwnScreen) {
            m_state->signInScreenShown = std::make_shared<GameScreenViewController>("sign in");
            callHandler(m_state->signInScreenShown, std::nullopt);
            return;
        }
        if (m_state->signInScreenShown) return;  // already up: its end answers
        m_state->signInScreenShown = std::make_shared<GameScreenViewController>("sign in");
        // The older systems showed the network's own sign-in over whatever was on screen.
        if (ui::Application* app = ui::Application::shared()) app->addOverlay(m_state->signInScreenShown->view());
        foundation::trace(gamenetTrace(), "screen sign in");
    } else {
        signIn(m_player.authenticated ? m_player.playerID : m_state->configuredPlayer);
    }
}

void GameNetwork::signIn(std::optional<std::string> player) {
    if (m_player.authenticated && m_player.playerID != player) {
        setPlayer({false, m_player.playerID});
        callHandler(nullptr, std::nullopt);
    }
    setPlayer({player.has_value(), std::move(player)});
    callHandler(nullptr, std::nullopt);
}

void GameNetwork::endSignInScreen(bool ok) {
    std::shared_ptr<ui::ViewController> screen = std::move(m_state->signInScreenShown);
    if (screen->presentingViewController())
        screen->dismissViewController(false);
    else if (ui::Application* app = ui::Application::shared(); app && screen->isViewLoaded())
        app->removeOverlay(screen->view().get());
    if (ok) {
        signIn(m_state->configuredPlayer);
    } else {
        setPlayer({false, std::nullopt});
        callHandler(nullptr, networkError(kErrorCancelled, "The requested operation has been cancelled."));
    }
}

Failure GameNetwork::takeFailure(const std::string& kind) {
    auto armed = m_state->armed.find(kind);
    if (armed == m_state->armed.end()) return std::nullopt;
    Failure error = std::move(armed->second);
    m_state->armed.erase(armed);
    return error;
}

void GameNetwork::reportScore(const Score& score, Completion completion) {
    foundation::trace(gamenetTrace(), "score " + score.category.value_or("null") + " " + std::to_string(score.value));
    Failure error = takeFailure("score");
    if (!error && m_player.authenticated) {
        Value::Dictionary& scores =
            section(playerProgress(m_state->progress, *m_player.playerID, m_state->configuredProgress), "scores");
        scores[score.category.value_or("")] = score.value;
        saveProgress();
    }
    deliver([completion = std::move(completion), error = std::move(error)] { completion(error); });
}

void GameNetwork::reportAchievement(const Achievement& achievement, Completion completion) {
    foundation::trace(gamenetTrace(),
                      "achievement " + achievement.identifier + " " + formatNumber(achievement.percentComplete));
    Failure error = takeFailure("achievement");
    if (!error && m_player.authenticated) {
        Value::Dictionary& achievements =
            section(playerProgress(m_state->progress, *m_player.playerID, m_state->configuredProgress), "achievements");
        Value& stored = achievements[achievement.identifier];
        if (stored.doubleValue() < achievement.percentComplete) stored = achievement.percentComplete;
        saveProgress();
    }
    deliver([completion = std::move(completion), error = std::move(error)] { completion(error); });
}

void GameNetwork::loadAchievements(std::function<void(std::vector<Achievement>, const Failure&)> completion) {
    std::vector<Achievement> list;
    if (m_player.authenticated) {
        const Value::Dictionary& achievements = section(
            playerProgress(m_state->progress, *m_player.playerID, m_state->configuredProgress), "achievements");
        for (const auto& [identifier, percent] : achievements) list.push_back({identifier, percent.doubleValue()});
    }
    deliver([completion = std::move(completion), list = std::move(list)] { completion(list, std::nullopt); });
}

void GameNetwork::loadAchievementDescriptions(
    std::function<void(std::vector<AchievementDescription>, const Failure&)> completion) {
    deliver([completion = std::move(completion), list = m_state->descriptions] { completion(list, std::nullopt); });
}

void GameNetwork::resetAchievements(Completion completion) {
    foundation::trace(gamenetTrace(), "reset");
    Failure error = takeFailure("reset");
    if (!error && m_player.authenticated) {
        section(playerProgress(m_state->progress, *m_player.playerID, m_state->configuredProgress), "achievements")
            .clear();
        saveProgress();
    }
    deliver([completion = std::move(completion), error = std::move(error)] { completion(error); });
}

void GameNetwork::registerCommands() {
    using Arguments = std::vector<std::string>;
    foundation::registerServiceCommand("gamenet.signin", [this](const Arguments& arguments) -> std::function<void()> {
        if (arguments.empty()) return nullptr;
        return [this, player = arguments[0]] { signIn(player); };
    });
    foundation::registerServiceCommand("gamenet.signout", [this](const Arguments&) -> std::function<void()> {
        if (!m_player.authenticated) return nullptr;
        return [this] {
            setPlayer({false, m_player.playerID});
            callHandler(nullptr, std::nullopt);
        };
    });
    foundation::registerServiceCommand("gamenet.screen", [this](const Arguments& arguments) -> std::function<void()> {
        if (!m_state->signInScreenShown || arguments.empty()) return nullptr;
        return [this, ok = arguments[0] == "ok"] {
            if (m_state->signInScreenShown) endSignInScreen(ok);
        };
    });
    foundation::registerServiceCommand("gamenet.done", [](const Arguments&) -> std::function<void()> {
        std::shared_ptr<GameScreenViewController> screen = screenOnDisplay().lock();
        if (!screen || !screen->presentingViewController()) return nullptr;
        return [screen] { screen->done(); };
    });
    foundation::registerServiceCommand("gamenet.fail", [this](const Arguments& arguments) -> std::function<void()> {
        if (arguments.size() < 3) return nullptr;
        return [this, arguments] {
            m_state->armed[arguments[0]] = networkError(std::atoi(arguments[1].c_str()), arguments[2]);
        };
    });
}

}  // namespace plat::gamenet
