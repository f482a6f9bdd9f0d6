#include "platform/util/KeychainStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/sys/AtomicFile.h"

namespace plat::util {

using plat::foundation::Value;

namespace {

// Services map to dictionaries of accounts, and accounts to password data.
bool isKeychain(const Value& file) {
    if (!file.dictionary()) return false;
    for (const auto& [service, accounts] : *file.dictionary()) {
        if (!accounts.dictionary()) return false;
        for (const auto& [account, password] : *accounts.dictionary())
            if (!password.data()) return false;
    }
    return true;
}

bool makeKeychainDirectory(const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (std::filesystem::exists(directory, ignored)) return true;
    return plat::foundation::makeDirectories(directory.string());
}

}  // namespace

KeychainStore KeychainStore::of(const plat::foundation::Container& container) {
    return KeychainStore(container.path() + "/Library/Keychains/keychain.plist");
}

KeychainStatus KeychainStore::load(Items& items) const {
    items.clear();
    struct stat st;
    if (::stat(m_path.c_str(), &st) != 0 && errno == ENOENT) return kKeychainSuccess;
    plat::foundation::Error error;
    std::optional<Value> file = plat::foundation::readPropertyList(m_path, plat::sys::kKeychainCap, &error);
    if (file && isKeychain(*file)) {
        items = std::move(*file->dictionary());
        return kKeychainSuccess;
    }
    if (!file && error.code != plat::foundation::kPropertyListReadCorruptError) {
        plat::foundation::log("Keychain: %s", error.message.c_str());
        return kKeychainIOError;
    }
    // Damaged: kept aside as the user defaults keep theirs, or every later call would fail.
    const std::string reason = file ? m_path + ": not a keychain" : error.message;
    std::optional<std::string> aside = plat::foundation::moveAside(m_path);
    if (!aside && errno != ENOENT) {  // gone meanwhile: another process moved it
        plat::foundation::log("Keychain: %s, and it could not be moved aside", reason.c_str());
        return kKeychainIOError;
    }
    if (aside) plat::foundation::log("Keychain: %s; moved to %s, starting empty", reason.c_str(), aside->c_str());
    return kKeychainSuccess;
}

KeychainStatus KeychainStore::save(const Items& items) const {
    if (!makeKeychainDirectory(m_path)) return kKeychainIOError;
    std::optional<std::string> text =
        plat::foundation::serializePropertyList(Value(items), plat::foundation::PropertyListFormat::Xml);
    if (!text) return kKeychainIOError;
    plat::sys::AtomicFile file(m_path);
    if (!file.stream() || ::fchmod(fileno(file.stream()), 0600) != 0) return kKeychainIOError;
    std::fwrite(text->data(), 1, text->size(), file.stream());
    return file.commit() ? kKeychainSuccess : kKeychainIOError;
}

KeychainStatus KeychainStore::change(const std::function<KeychainStatus(Items&)>& edit) {
    if (!makeKeychainDirectory(m_path)) return kKeychainIOError;
    const plat::foundation::FileLock lock(m_path + ".lock");
    if (!lock.held()) {
        plat::foundation::log("Keychain: %s.lock could not be taken", m_path.c_str());
        return kKeychainIOError;
    }
    Items items;
    if (KeychainStatus status = load(items); status != kKeychainSuccess) return status;
    if (KeychainStatus status = edit(items); status != kKeychainSuccess) return status;
    return save(items);
}

KeychainStatus KeychainStore::copyPassword(std::string_view service, std::string_view account,
                                           std::vector<std::uint8_t>* password) const {
    Items items;
    if (KeychainStatus status = load(items); status != kKeychainSuccess) return status;
    auto s = items.find(service);
    const Value* found = s != items.end() ? s->second.find(account) : nullptr;
    if (!found) return kKeychainItemNotFound;
    if (password) *password = *found->data();
    return kKeychainSuccess;
}

KeychainStatus KeychainStore::addPassword(std::string_view service, std::string_view account,
                                          const std::vector<std::uint8_t>& password) {
    return change([&](Items& items) {
        Value& accounts = items[std::string(service)];
        if (!accounts.dictionary()) accounts = Value::Dictionary{};
        return accounts.dictionary()->emplace(std::string(account), Value(password)).second
                   ? kKeychainSuccess
                   : kKeychainDuplicateItem;
    });
}

KeychainStatus KeychainStore::updatePassword(std::string_view service, std::string_view account,
                                             const std::vector<std::uint8_t>& password) {
    return change([&](Items& items) {
        auto s = items.find(service);
        Value::Dictionary* accounts = s != items.end() ? s->second.dictionary() : nullptr;
        auto a = accounts ? accounts->find(account) : Value::Dictionary::iterator();
        if (!accounts || a == accounts->end()) return kKeychainItemNotFound;
        a->second = Value(password);
        return kKeychainSuccess;
    });
}

KeychainStatus KeychainStore::deletePassword(std::string_view service, std::string_view account) {
    return change([&](Items& items) {
        auto s = items.find(service);
        if (s == items.end() || s->second.dictionary()->erase(std::string(account)) == 0)
            return kKeychainItemNotFound;
        if (s->second.dictionary()->empty()) items.erase(s);
        return kKeychainSuccess;
    });
}

}  // namespace plat::util
