// Account names and passwords the player may remember: the names in the user defaults, the
// passwords in the keychain as generic passwords of the service "Drovik".
#pragma once

#include <optional>
#include <string>

inline constexpr const char* kDKKeychainService = "Drovik";
inline constexpr const char* kDKRememberPasswordKey = "RememberPassword";
inline constexpr const char* kDKDefaultAccountKey = "DefaultAccount";

// Works on the main container's keychain and the standard user defaults; without them it keeps
// nothing and finds nothing. Failures of the keychain are not reported.
class DKKeychain {
public:
    static DKKeychain& sharedKeychain();

    bool shouldRememberPassword() const;
    void setShouldRememberPassword(bool remember);

    void storeAccountName(const std::string& accountName);
    std::optional<std::string> retrieveAccountName() const;

    // Replaces a different stored password; adds one when none is stored.
    void storePassword(const std::string& password, const std::string& account);
    void forgetPasswordForAccount(const std::string& account);
    // Nothing when none is stored or the keychain cannot be read.
    std::optional<std::string> retrievePasswordForAccount(const std::string& account) const;

private:
    DKKeychain() = default;
};
