#include "platform/foundation/UserDefaults.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

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
    // One per file, never destroyed: a pointer taken under an earlier main container stays good,
    // and coming back to a container finds its defaults as they were left.
    static std::mutex made;
    static auto* files = new std::map<std::string, std::unique_ptr<UserDefaults>, std::less<>>;
    std::lock_guard lock(made);
    const Container* container = Container::main();
    if (!container) return nullptr;
    // The home and the identifier name the file, without making its folder at each call.
    std::unique_ptr<UserDefaults>& defaults = (*files)[container->path() + '\n' + container->bundleIdentifier()];
    if (!defaults) defaults = std::make_unique<UserDefaults>(*container);
    return defaults.get();
}

std::string UserDefaults::directory() const {
    const size_t slash = m_path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : m_path.substr(0, slash);
}

// Pasteboards take theirs the same way.
std::string UserDefaults::lockPath() const {
    return directory() + "/.lock";
}

UserDefaults::FileState UserDefaults::readFile(Value::Dictionary& values, std::string* problem) const {
    Error error;
    std::optional<Value> file = readPropertyList(m_path, plat::sys::kPreferencesCap, &error);
    if (file && file->dictionary()) {
        values = std::move(*file->dictionary());
        return FileState::Read;
    }
    values.clear();
    if (!file && error.code == kFileReadNoSuchFileError) return FileState::Read;
    if (!file && error.code != kPropertyListReadCorruptError) {
        *problem = error.message;
        return FileState::Unreadable;
    }
    // Damaged: kept aside for whoever wants to look, never silently replaced.
    const std::string reason = file ? m_path + ": not a dictionary" : error.message;
    std::optional<std::string> aside = moveAside(m_path);
    if (!aside) {
        *problem = reason + ", and it could not be moved aside";
        return FileState::Unreadable;
    }
    log("UserDefaults: %s; moved to %s, starting empty", reason.c_str(), aside->c_str());
    return FileState::MovedAside;
}

void UserDefaults::load() {
    // A directory that is not there holds no file: nothing to lock, nothing made.
    std::optional<FileLock> lock;
    if (isDirectory(directory())) lock.emplace(lockPath());
    std::string problem;
    if (readFile(m_values, &problem) == FileState::Unreadable)
        log("UserDefaults: %s; it will not be written over", problem.c_str());
}

void UserDefaults::apply(const Changes& changes, Value::Dictionary& values) {
    for (const auto& [key, value] : changes) {
        if (value)
            values.insert_or_assign(key, *value);
        else if (auto it = values.find(key); it != values.end())
            values.erase(it);
    }
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
    m_changes.insert_or_assign(std::string(key), value);
    m_values.insert_or_assign(std::string(key), std::move(value));
    return true;
}

// Recorded even when absent here: another process may have written the key meanwhile.
void UserDefaults::removeObjectForKey(std::string_view key) {
    std::lock_guard lock(m_mutex);
    m_changes.insert_or_assign(std::string(key), std::nullopt);
    if (auto it = m_values.find(key); it != m_values.end()) m_values.erase(it);
}

bool UserDefaults::synchronize(Error* error) {
    std::lock_guard writing(m_writeMutex);
    if (error) return write(error);
    // Nobody to tell but the user: every run would otherwise be a first launch without a word.
    // The same failure is said once, not at each try.
    Error own;
    if (write(&own)) {
        m_saidFailure.clear();
        return true;
    }
    if (own.message != m_saidFailure) log("UserDefaults: %s", own.message.c_str());
    m_saidFailure = own.message;
    return false;
}

bool UserDefaults::write(Error* error) {
    Changes changes;
    {
        std::lock_guard lock(m_mutex);
        if (m_changes.empty()) return true;
        changes.swap(m_changes);
    }
    // Unsaved, they wait for the next write; a change made meanwhile is the later one.
    auto keep = [&] {
        std::lock_guard lock(m_mutex);
        m_changes.merge(changes);
        return false;
    };
    if (!makeDirectories(directory(), error)) return keep();
    const FileLock lock(lockPath());
    if (!lock.held()) {
        fail(error, kFileWriteUnknownError,
             m_path + ": not written, as its lock cannot be taken: " + lock.problem());
        return keep();
    }
    Value::Dictionary values;
    std::string problem;
    switch (readFile(values, &problem)) {
    case FileState::Read: break;
    case FileState::MovedAside: {  // what this process knew is the best there is
        std::lock_guard guard(m_mutex);
        values = m_values;
        break;
    }
    case FileState::Unreadable:
        fail(error, kFileWriteUnknownError, m_path + ": not written over, as it could not be read");
        return keep();
    }
    apply(changes, values);
    if (!writePropertyList(m_path, Value(values), PropertyListFormat::Xml, error)) return keep();
    std::lock_guard guard(m_mutex);
    m_values = std::move(values);
    apply(m_changes, m_values);  // made while this was written
    return true;
}

}  // namespace plat::foundation
