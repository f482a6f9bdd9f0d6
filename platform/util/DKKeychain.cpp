#include "platform/util/DKKeychain.h"

#include "platform/foundation/Container.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/util/KeychainStore.h"

using plat::foundation::UserDefaults;
using plat::util::KeychainStore;

namespace {

std::optional<KeychainStore> keychain() {
    const plat::foundation::Container* container = plat::foundation::Container::main();
    if (!container) return std::nullopt;
    return KeychainStore::of(*container);
}

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

}  // namespace

DKKeychain& DKKeychain::sharedKeychain() {
    static DKKeychain* shared = new DKKeychain;
    return *shared;
}

// The defaults are written at once: nothing else here saves them before the process ends.
bool DKKeychain::shouldRememberPassword() const {
    UserDefaults* defaults = UserDefaults::standard();
    return defaults && defaults->boolForKey(kDKRememberPasswordKey);
}

void DKKeychain::setShouldRememberPassword(bool remember) {
    if (UserDefaults* defaults = UserDefaults::standard()) {
        defaults->setBool(remember, kDKRememberPasswordKey);
        defaults->synchronize();
    }
}

void DKKeychain::storeAccountName(const std::string& accountName) {
    if (UserDefaults* defaults = UserDefaults::standard()) {
        defaults->setObject(accountName, kDKDefaultAccountKey);
        defaults->synchronize();
    }
}

std::optional<std::string> DKKeychain::retrieveAccountName() const {
    UserDefaults* defaults = UserDefaults::standard();
    return defaults ? defaults->stringForKey(kDKDefaultAccountKey) : std::nullopt;
}

void DKKeychain::storePassword(const std::string& password, const std::string& account) {
    std::optional<KeychainStore> store = keychain();
    if (!store) return;
    std::optional<std::string> stored = retrievePasswordForAccount(account);
    if (stored && *stored != password) {
        store->updatePassword(kDKKeychainService, account, bytesOf(password));
    } else {
        // An equal password stays as it is: the add finds it there.
        store->addPassword(kDKKeychainService, account, bytesOf(password));
    }
}

void DKKeychain::forgetPasswordForAccount(const std::string& account) {
    if (std::optional<KeychainStore> store = keychain()) store->deletePassword(kDKKeychainService, account);
}

std::optional<std::string> DKKeychain::retrievePasswordForAccount(const std::string& account) const {
    std::optional<KeychainStore> store = keychain();
    std::vector<std::uint8_t> password;
    if (!store ||
        store->copyPassword(kDKKeychainService, account, &password) != plat::util::kKeychainSuccess ||
        password.empty())
        return std::nullopt;
    return std::string(password.begin(), password.end());
}
