// Tweets from the script ("StartSendTweet"), on one of two roads: the compose sheet, where the
// player edits and sends the message, or a direct post with the player's account (chosen in the
// account selector when there are several), signed and sent by the social services. The plugin
// answers with alerts only. Each road pauses the game once and releases it once; each alert pauses
// again until dismissed. Work the answering threads hand back hops to the main loop first.
//
// Every answer from another thread hops to the main loop before it touches the plugin, its pauses or
// an alert, so each pause is taken and released through the plugin's ledger there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/services/social/Accounts.h"
#include "platform/ui/AlertView.h"
#include "player/plugins/DKPluginSupport.h"
#include "player/plugins/twitter/DKAccountSelectorController.h"

namespace plat::social {
class TweetComposeViewController;
}

class DKTwitterSupport : public DKPluginSupport, public plat::ui::AlertViewDelegate {
public:
    static constexpr int kMaxLength = 140;
    static constexpr int kMaxLengthWithImage = 119;

    explicit DKTwitterSupport(DKGameViewController* gameViewController);
    ~DKTwitterSupport() override;
    static const char* pluginIdentifier() { return "Twitter"; }

    // "StartSendTweet": message, use the compose sheet, image file path.
    void startSendTweet(DKGameViewController*, std::optional<std::string> message, bool useView,
                        std::optional<std::string> image);

    // The compose sheet's class is there and the system is 5.0 or later.
    static bool canUseTwitter();
    // Longer than the limit (119 UTF-16 units with an image, else 140): cut to it, one unit less
    // where the cut would split a surrogate pair. Nil stays nil.
    static std::optional<std::string> cutMessage(std::optional<std::string> message, bool withImage);
    // "Error code %d: ..." for the status, localized, filled.
    static std::string getErrorMessage(int status);
    // The failure alert's text for an answer that is not 200: the "error" string of a JSON object
    // body (nil, the alert's default, when the object has none); the status's message when the body
    // is empty, no JSON object, or its "error" no string.
    static std::optional<std::string> failureText(int status, const std::vector<std::uint8_t>& body);

    DKAccountSelectorController& accountSelector() { return *m_accountSelector; }

    void alertViewClickedButton(plat::ui::AlertView& alert, int index, const std::string& title) override;

protected:
    void registerActions(lua_State* L) override;

private:
    void sendTweetUsingView(const std::optional<std::string>& message, const std::optional<std::string>& image);
    void sendTweetUsingRequest(const std::optional<std::string>& message, const std::optional<std::string>& image);
    void accessAnswered(const plat::social::TwitterAccess& access, const std::optional<std::string>& message,
                        const std::optional<std::string>& image);
    void showAccountSelector(std::vector<plat::social::Account> accounts, const std::optional<std::string>& message,
                             const std::optional<std::string>& image);
    void tweetRequestWithAccount(const plat::social::Account& account, const std::optional<std::string>& message,
                                 const std::optional<std::string>& image);
    void requestAnswered(int status, const std::vector<std::uint8_t>& body);

    void showAlertSuccess();
    void showAlertFailure(const std::optional<std::string>& text);
    void showAlertNoAccount();
    void showAlertUnsupported();
    void showAlert(const std::string& title, const std::string& message, std::vector<std::string> buttons);

    // `work` on the main loop, if the plugin is still there then. Called from answers that count
    // as work in flight until they return, so a virtual clock waits for it.
    static void onMain(std::weak_ptr<DKTwitterSupport> plugin, std::function<void(DKTwitterSupport&)> work);

    std::shared_ptr<DKAccountSelectorController> m_accountSelector;
    std::shared_ptr<plat::social::TweetComposeViewController> m_composeSheet;  // while it shows
};
