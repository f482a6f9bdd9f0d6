#include "platform/foundation/UserDefaults.h"

#include <cstdio>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"

namespace plat::foundation {

namespace {

std::string fileIn(const Container& container) {
    std::string dir = container.preferencesPath();
    if (dir.empty()) dir = container.path() + "/Library/Preferences";  // synchronize will say why
    return dir + "/" + container.bundleIdentifier() + ".plist";
}

}  // namespace

UserDefaults::UserDefaults(std::string path) : m_path(std::move(path)) {
    load();
}

UserDefaults::UserDefaults(const Container& container) : m_path(fileIn(container)) {
    load();
}

UserDefaults::~UserDefaults() {
    synchronize();
}

UserDefaults* UserDefaults::standard() {
    static std::mutex made;
    static UserDefaults* defaults = nullptr;
    std::lock_guard lock(made);
    if (!defaults && Container::main()) defaults = new UserDefaults(*Container::main());
    return defaults;
}

void UserDefaults::load() {
    Error error;
    std::optional<Value> file = readPropertyList(m_path, &error);
    if (file && file->dictionary()) {
        m_values = std::move(*file->dictionary());
        return;
    }
    if (!file && error.code == kFileReadNoSuchFileError) return;
    if (!file && error.code != kPropertyListReadCorruptError) {
        m_unreadable = true;
        log("UserDefaults: %s; it will not be written over", error.message.c_str());
        return;
    }
    // Damaged: kept aside for whoever wants to look, never silently replaced.
    const std::string reason = file ? m_path + ": not a dictionary" : error.message;
    const std::string aside = m_path + ".bad";
    if (std::rename(m_path.c_str(), aside.c_str()) != 0) {
        m_unreadable = true;
        log("UserDefaults: %s, and it could not be moved to %s; it will not be written over", reason.c_str(),
            aside.c_str());
        return;
    }
    log("UserDefaults: %s; moved to %s, starting empty", reason.c_str(), aside.c_str());
}

std::optional<Value> UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_values.find(key);
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    std::optional<Value> v = objectForKey(key);
    if (!v) return std::nullopt;
    switch (v->type()) {
    case Value::Type::String:
    case Value::Type::Bool:
    case Value::Type::Integer:
    case Value::Type::Real: return v->description();
    default: return std::nullopt;
    }
}

bool UserDefaults::boolForKey(std::string_view key) const {
    std::optional<Value> v = objectForKey(key);
    return v && v->boolValue();
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
    std::optional<Value> v = objectForKey(key);
    return v ? v->intValue() : 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    std::optional<Value> v = objectForKey(key);
    return v ? v->doubleValue() : 0;
}

Value::Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(m_mutex);
    return m_values;
}

bool UserDefaults::setObject(Value value, std::string_view key) {
    if (value.isNull()) {
        removeObjectForKey(key);
        return true;
    }
    Error error;
    if (key.find('\0') != std::string_view::npos)
        fail(&error, kPropertyListWriteInvalidError, "a property list cannot hold a key with a NUL character");
    if (!error.message.empty() || !isPropertyListValue(value, &error)) {
        log("UserDefaults: not set for key \"%.*s\": %s", static_cast<int>(key.size()), key.data(),
            error.message.c_str());
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_values.insert_or_assign(std::string(key), std::move(value));
    m_dirty = true;
    return true;
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(m_mutex);
    auto it = m_values.find(key);
    if (it == m_values.end()) return;
    m_values.erase(it);
    m_dirty = true;
}

bool UserDefaults::synchronize(Error* error) {
    std::lock_guard writing(m_writeMutex);
    Value snapshot;
    {
        std::lock_guard lock(m_mutex);
        if (!m_dirty) return true;
        if (m_unreadable)
            return fail(error, kFileWriteUnknownError, m_path + ": not written over, as it could not be read");
        snapshot = Value(m_values);
        m_dirty = false;
    }
    const size_t slash = m_path.rfind('/');
    const bool written = (slash == std::string::npos || makeDirectories(m_path.substr(0, slash), error)) &&
                         writePropertyList(m_path, snapshot, PropertyListFormat::Xml, error);
    if (!written) {
        std::lock_guard lock(m_mutex);
        m_dirty = true;
    }
    return written;
}

}  // namespace plat::foundation
