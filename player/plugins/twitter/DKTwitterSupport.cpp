#include "player/plugins/twitter/DKTwitterSupport.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/ImageCodec.h"
#include "platform/services/social/SignedRequest.h"
#include "platform/services/social/TweetComposeViewController.h"
#include "platform/sys/Device.h"
#include "platform/ui/Application.h"
#include "player/bridge/DKExternalFunctionTable.h"
#include "player/controller/DKGameViewController.h"
#include "player/plugins/DKJSONTree.h"

using plat::foundation::Bundle;

namespace {

constexpr const char* kTweetRequestTitle = "Tweet Request";
constexpr const char* kSettingsURL = "prefs:root=TWITTER";

// The length of the UTF-8 sequence starting with `lead`; 1 for a byte that starts none, which
// then counts as one unit of its own.
size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// The PNG of the image file; nothing when it cannot be read or decoded (said on the log).
std::optional<std::vector<std::uint8_t>> pngOfImage(const std::string& path) {
    plat::image::Bitmap bitmap;
    plat::image::Error error;
    std::vector<std::uint8_t> png;
    std::string encodeError;
    if (!plat::image::decodeFile(path, &bitmap, &error)) {
        plat::foundation::log("DKTwitterSupport: no image from %s: %s", path.c_str(), error.message.c_str());
        return std::nullopt;
    }
    if (!plat::image::encodePNG(bitmap.width, bitmap.height, bitmap.rgba.data(), bitmap.rgba.size(), 4, &png,
                                &encodeError)) {
        plat::foundation::log("DKTwitterSupport: %s", encodeError.c_str());
        return std::nullopt;
    }
    return png;
}

}  // namespace

DKTwitterSupport::DKTwitterSupport(DKGameViewController* gameViewController)
    : DKPluginSupport(gameViewController), m_accountSelector(std::make_shared<DKAccountSelectorController>()) {
    plat::social::registerSocialClasses();
}

DKTwitterSupport::~DKTwitterSupport() = default;

void DKTwitterSupport::registerActions(lua_State* L) {
    DKExternalFunctionTable::externalFunctionTableForState(L)->registerTarget(
        self<DKTwitterSupport>(), gameViewController(), &DKTwitterSupport::startSendTweet, "StartSendTweet");
}

bool DKTwitterSupport::canUseTwitter() {
    return plat::social::TweetComposeViewController::isAvailable() &&
           plat::sys::Device::current().systemVersionAtLeast("5.0");
}

std::optional<std::string> DKTwitterSupport::cutMessage(std::optional<std::string> message, bool withImage) {
    if (!message) return message;
    const size_t limit = withImage ? kMaxLengthWithImage : kMaxLength;
    size_t units = 0;
    for (size_t at = 0; at < message->size();) {
        const size_t length = std::min(sequenceLength(static_cast<unsigned char>((*message)[at])), message->size() - at);
        const size_t width = length == 4 ? 2 : 1;  // beyond the basic plane: a surrogate pair
        if (units + width > limit) {
            message->resize(at);
            break;
        }
        units += width;
        at += length;
    }
    return message;
}

std::string DKTwitterSupport::getErrorMessage(int status) {
    std::string text = Bundle::localized(status == 413 ? "Error code %d: Content is too large"
                                                       : "Error code %d: Unable to post your tweet at this time");
    if (const size_t at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(status));
    return text;
}

std::optional<std::string> DKTwitterSupport::failureText(int status, const std::vector<std::uint8_t>& body) {
    const DKJSONTree json(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
    if (!YAJL_IS_OBJECT(json.root())) return getErrorMessage(status);
    const yajl_val error = DKJSONTree::member(json.root(), "error");
    if (!error) return std::nullopt;
    return YAJL_IS_STRING(error) ? std::optional<std::string>(YAJL_GET_STRING(error)) : getErrorMessage(status);
}

void DKTwitterSupport::onMain(std::weak_ptr<DKTwitterSupport> plugin, std::function<void(DKTwitterSupport&)> work) {
    plat::foundation::RunLoop::main().perform([plugin = std::move(plugin), work = std::move(work)] {
        if (auto live = plugin.lock()) work(*live);
    });
}

void DKTwitterSupport::startSendTweet(DKGameViewController*, std::optional<std::string> message, bool useView,
                                      std::optional<std::string> image) {
    if (!canUseTwitter()) {
        showAlertUnsupported();
        return;
    }
    message = cutMessage(std::move(message), image.has_value());
    if (useView)
        sendTweetUsingView(message, image);
    else
        sendTweetUsingRequest(message, image);
}

void DKTwitterSupport::sendTweetUsingView(const std::optional<std::string>& message,
                                          const std::optional<std::string>& image) {
    DKGameViewController* controller = gameViewController();
    if (!controller) return;
    auto sheet = std::make_shared<plat::social::TweetComposeViewController>();
    sheet->setInitialText(message.value_or(""));
    if (image) sheet->addImage(*image);  // one that cannot be read leaves the sheet without
    std::weak_ptr<DKTwitterSupport> weak = self<DKTwitterSupport>();
    sheet->setCompletionHandler([weak](plat::social::TweetComposeViewController::Result) {
        auto live = weak.lock();
        if (!live || !live->m_composeSheet) return;
        auto shown = std::move(live->m_composeSheet);
        shown->dismissViewController(true);
        live->resumeGame();
    });
    pauseGame(false);
    controller->presentViewController(sheet, true);
    if (!sheet->presentingViewController()) {
        resumeGame();
        return;
    }
    m_composeSheet = std::move(sheet);
}

void DKTwitterSupport::sendTweetUsingRequest(const std::optional<std::string>& message,
                                             const std::optional<std::string>& image) {
    pauseGame(false);
    std::weak_ptr<DKTwitterSupport> weak = self<DKTwitterSupport>();
    plat::social::requestTwitterAccess([weak, message, image](plat::social::TwitterAccess access) {
        onMain(weak, [access = std::move(access), message, image](DKTwitterSupport& plugin) {
            plugin.accessAnswered(access, message, image);
        });
    });
}

void DKTwitterSupport::accessAnswered(const plat::social::TwitterAccess& access,
                                      const std::optional<std::string>& message,
                                      const std::optional<std::string>& image) {
    if (!access.granted) {
        resumeGame();
    } else if (access.accounts.empty()) {
        resumeGame();
        showAlertNoAccount();
    } else if (access.accounts.size() == 1) {
        tweetRequestWithAccount(access.accounts.front(), message, image);
    } else {
        showAccountSelector(access.accounts, message, image);
    }
}

void DKTwitterSupport::showAccountSelector(std::vector<plat::social::Account> accounts,
                                           const std::optional<std::string>& message,
                                           const std::optional<std::string>& image) {
    DKGameViewController* controller = gameViewController();
    std::weak_ptr<DKTwitterSupport> weak = self<DKTwitterSupport>();
    const bool shown =
        controller &&
        m_accountSelector->showAccountSelector(
            *controller, std::move(accounts),
            [weak, message, image](DKAccountSelectorController&, int, const plat::social::Account& account) {
                if (auto live = weak.lock()) live->tweetRequestWithAccount(account, message, image);
            },
            [weak](DKAccountSelectorController&) {
                if (auto live = weak.lock()) live->resumeGame();
            });
    if (!shown) resumeGame();
}

void DKTwitterSupport::tweetRequestWithAccount(const plat::social::Account& account,
                                               const std::optional<std::string>& message,
                                               const std::optional<std::string>& image) {
    if (!plat::social::TweetComposeViewController::canSendTweet()) {
        resumeGame();
        showAlertFailure(std::nullopt);
        return;
    }
    std::optional<std::vector<std::uint8_t>> png;
    if (image) {
        png = pngOfImage(*image);
        if (!png) {
            resumeGame();
            showAlertFailure(std::nullopt);
            return;
        }
    }
    std::weak_ptr<DKTwitterSupport> weak = self<DKTwitterSupport>();
    plat::social::tweetRequest(account, message.value_or(""), png)
        .perform([weak](int status, std::vector<std::uint8_t> body) {
            onMain(weak, [status, body = std::move(body)](DKTwitterSupport& plugin) {
                plugin.requestAnswered(status, body);
            });
        });
}

void DKTwitterSupport::requestAnswered(int status, const std::vector<std::uint8_t>& body) {
    resumeGame();
    if (status == 200)
        showAlertSuccess();
    else
        showAlertFailure(failureText(status, body));
}

void DKTwitterSupport::showAlert(const std::string& title, const std::string& message, std::vector<std::string> buttons) {
    pauseGame(false);
    std::shared_ptr<plat::ui::AlertViewDelegate> delegate(self<DKTwitterSupport>(), this);
    std::make_shared<plat::ui::AlertView>(title, message, std::move(buttons), delegate)->show();
}

void DKTwitterSupport::showAlertSuccess() {
    showAlert("Tweet Posted", "Your Tweet was Posted!", {"Ok"});
}

void DKTwitterSupport::showAlertFailure(const std::optional<std::string>& text) {
    showAlert("Cannot Post Tweet", text.value_or("Unable to post your tweet at this time."), {"Ok"});
}

void DKTwitterSupport::showAlertNoAccount() {
    showAlert("No Twitter Accounts",
              "There are no Twitter accounts configured. You can add or create a Twitter account in Settings.",
              {"Settings", "Cancel"});
}

void DKTwitterSupport::showAlertUnsupported() {
    showAlert(kTweetRequestTitle, "Twitter is not available here. Go to the Twitter web site?", {"Yes", "No"});
}

void DKTwitterSupport::alertViewClickedButton(plat::ui::AlertView& alert, int, const std::string& title) {
    resumeGame();
    plat::ui::Application* app = plat::ui::Application::shared();
    if (!app) return;
    if (title == Bundle::localized("Settings"))
        app->openURL(kSettingsURL);
    else if (alert.title() == Bundle::localized(kTweetRequestTitle) && title == Bundle::localized("Yes"))
        app->openURL(plat::social::twitterWebSite());
}
