// The keychain's stand-in: generic passwords keyed by service and account, kept in one property
// list of the container (Library/Keychains/keychain.plist), mode 0600, replaced whole on each
// change under a lock file beside it, in a 0700 folder. It sits here rather than in platform/sys
// because it is a property list of the container, which the foundation provides. A damaged file is
// moved aside as the user defaults' are and the keychain starts empty; one that cannot be read is
// never written over. A known limit: the passwords lie unencrypted, guarded only by the file's mode.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace plat::foundation {
class Container;
}

namespace plat::util {

// The platform's keychain result codes for what the stand-in can answer.
enum KeychainStatus : int {
    kKeychainSuccess = 0,
    kKeychainIOError = -36,
    kKeychainDuplicateItem = -25299,
    kKeychainItemNotFound = -25300,
};

class KeychainStore {
public:
    explicit KeychainStore(std::string path) : m_path(std::move(path)) {}
    // The store of the container: Library/Keychains/keychain.plist under its root.
    static KeychainStore of(const plat::foundation::Container& container);

    const std::string& path() const { return m_path; }

    // A file that is no property list of the stand-in's shape is moved aside as the user defaults
    // move theirs (`.bad`, `.bad.2`...) with a line on standard error, and the keychain starts
    // empty. One that cannot be read is left as it is: every call answers kKeychainIOError
    // rather than write over it.
    KeychainStatus copyPassword(std::string_view service, std::string_view account,
                                std::vector<std::uint8_t>* password) const;
    // kKeychainDuplicateItem when the service already has the account.
    KeychainStatus addPassword(std::string_view service, std::string_view account,
                               const std::vector<std::uint8_t>& password);
    // kKeychainItemNotFound when it has not.
    KeychainStatus updatePassword(std::string_view service, std::string_view account,
                                  const std::vector<std::uint8_t>& password);
    KeychainStatus deletePassword(std::string_view service, std::string_view account);

private:
    using Items = plat::foundation::Value::Dictionary;  // service -> account -> password data
    KeychainStatus load(Items& items) const;
    KeychainStatus save(const Items& items) const;
    // Reads, changes and writes the file under a cross-process lock beside it, as the user defaults
    // do: two processes adding items at once would otherwise each write back what it read.
    KeychainStatus change(const std::function<KeychainStatus(Items&)>& edit);

    std::string m_path;
};

}  // namespace plat::util
