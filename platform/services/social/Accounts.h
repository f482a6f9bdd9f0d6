// The accounts store's stand-in: the Twitter accounts configured in the container's
// Library/LocalServices/accounts.plist, and whether the player lets the game use them.
//
//   access         "granted" (the default) or "denied"
//   twitter        an array of {username, consumerKey, consumerSecret, token, tokenSecret}
//   canSendTweet   a bool; by default, whether there is an account
//
// No file: the service is absent, and with it the compose sheet's class.
//
// The file is read at each use; access is answered on the worker pool.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/services/social/OAuth.h"

namespace plat::social {

inline constexpr const char* kAccountsService = "accounts";
// The compose sheet's class, present while the accounts file is there.
inline constexpr const char* kTweetComposeClass = "TWTweetComposeViewController";
inline constexpr const char* kAccountsErrorDomain = "com.apple.accounts";
inline constexpr int kAccountsErrorPermissionDenied = 7;

struct Account {
    std::string username;
    OAuthCredentials credentials;
};

// Registers the service's classes with the class look-up; again does nothing.
void registerSocialClasses();

// The file as it reads now; nullopt when the service is absent.
struct AccountsConfiguration {
    bool accessGranted = true;
    std::vector<Account> twitter;
    bool canSendTweet = false;
};
std::optional<AccountsConfiguration> readAccountsConfiguration();

// The Twitter account type's answer: granted with the accounts, or refused with an error.
struct TwitterAccess {
    bool granted = false;
    std::vector<Account> accounts;
    std::optional<foundation::Error> error;
};

// Asks for access to the Twitter accounts. The file is read now; `completion` runs on a worker
// thread, counted as work in flight, so a virtual clock waits for the answer.
void requestTwitterAccess(std::function<void(TwitterAccess)> completion);

// The compose sheet class's canSendTweet: false when the service is absent.
bool canSendTweet();

}  // namespace plat::social
