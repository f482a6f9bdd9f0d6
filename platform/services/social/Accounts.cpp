#include "platform/services/social/Accounts.h"

#include <mutex>

#include "platform/foundation/LocalServices.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Queue.h"

namespace plat::social {

using foundation::Value;

namespace {

std::string stringEntry(const Value& dictionary, const char* key) {
    const Value* value = dictionary.find(key);
    const std::string* text = value ? value->string() : nullptr;
    return text ? *text : std::string();
}

}  // namespace

void registerSocialClasses() {
    static std::once_flag once;
    std::call_once(once, [] { foundation::registerLocalServiceClass(kTweetComposeClass, kAccountsService); });
}

std::optional<AccountsConfiguration> readAccountsConfiguration() {
    const std::optional<Value> file = foundation::readLocalService(kAccountsService);
    if (!file) return std::nullopt;
    AccountsConfiguration configuration;
    if (const Value* access = file->find("access"); access && access->string()) {
        if (*access->string() == "denied")
            configuration.accessGranted = false;
        else if (*access->string() != "granted")
            foundation::log("accounts: unknown access \"%s\", taken as granted", access->string()->c_str());
    }
    if (const Value* twitter = file->find("twitter"); twitter && twitter->array()) {
        for (const Value& entry : *twitter->array()) {
            if (!entry.dictionary()) {
                foundation::log("accounts: a Twitter account that is no dictionary, left out");
                continue;
            }
            configuration.twitter.push_back(
                {stringEntry(entry, "username"),
                 {stringEntry(entry, "consumerKey"), stringEntry(entry, "consumerSecret"),
                  stringEntry(entry, "token"), stringEntry(entry, "tokenSecret")}});
        }
    }
    const Value* canSend = file->find("canSendTweet");
    configuration.canSendTweet = canSend ? canSend->boolValue() : !configuration.twitter.empty();
    return configuration;
}

void requestTwitterAccess(std::function<void(TwitterAccess)> completion) {
    TwitterAccess answer;
    const std::optional<AccountsConfiguration> configuration = readAccountsConfiguration();
    if (configuration && configuration->accessGranted) {
        answer.granted = true;
        answer.accounts = configuration->twitter;
    } else {
        answer.error = foundation::Error{kAccountsErrorDomain, kAccountsErrorPermissionDenied,
                                         "Access to the Twitter accounts was refused.", {}};
    }
    foundation::Queue::global().async([completion = std::move(completion), answer = std::move(answer)]() mutable {
        completion(std::move(answer));
    });
}

bool canSendTweet() {
    const std::optional<AccountsConfiguration> configuration = readAccountsConfiguration();
    return configuration && configuration->canSendTweet;
}

}  // namespace plat::social
