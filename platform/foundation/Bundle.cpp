#include "platform/foundation/Bundle.h"

#include <dirent.h>
#include <errno.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"

namespace plat::foundation {

namespace {

std::unique_ptr<Bundle>& mainBundle() {
    static std::unique_ptr<Bundle> bundle;
    return bundle;
}

std::string languageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        const std::string locale = value;
        return locale.substr(0, locale.find_first_of("_.@"));
    }
    return {};
}

std::string joined(const std::string& dir, std::string_view name) {
    return name.empty() ? dir : dir + "/" + std::string(name);
}

}  // namespace

struct Bundle::Strings {
    std::once_flag read;
    Value table;
};

std::optional<Bundle> Bundle::open(const std::string& path, Error* error) {
    Bundle bundle;
    bundle.m_path = absolutePath(path);
    if (!isDirectory(bundle.m_path)) {
        fail(error, pathExists(bundle.m_path) ? kFileReadUnknownError : kFileReadNoSuchFileError,
             bundle.m_path + ": not a bundle directory");
        return std::nullopt;
    }
    const std::string infoPath = bundle.m_path + "/Info.plist";
    std::optional<Value> info = readPropertyList(infoPath, plat::sys::kInfoPlistCap, error);
    if (!info) return std::nullopt;
    if (!info->dictionary()) {
        fail(error, kPropertyListReadCorruptError, infoPath + ": not a dictionary");
        return std::nullopt;
    }
    bundle.m_info = std::move(*info);
    bundle.m_language = languageFromEnvironment();
    bundle.m_strings = std::make_shared<Strings>();
    return bundle;
}

const Bundle* Bundle::main() {
    return mainBundle().get();
}

void Bundle::setMain(Bundle bundle) {
    mainBundle() = std::make_unique<Bundle>(std::move(bundle));
}

std::string Bundle::identifier() const {
    const Value* id = infoValue(kBundleIdentifierKey);
    if (id && id->string() && !id->string()->empty()) return *id->string();
    std::string name = m_path.substr(m_path.rfind('/') + 1);
    if (name.size() > 4 && name.ends_with(".app")) name.resize(name.size() - 4);
    return name;
}

const Value* Bundle::mainInfoValue(std::string_view key) {
    const Bundle* bundle = main();
    return bundle ? bundle->infoValue(key) : nullptr;
}

std::string Bundle::mainInfoString(std::string_view key) {
    const Value* value = mainInfoValue(key);
    return value && value->string() ? *value->string() : std::string();
}

std::string Bundle::infoText(std::string_view key) const {
    const Value* v = infoValue(key);
    return v ? v->description() : std::string();
}

std::vector<std::string> Bundle::searchDirectories(std::string_view subdirectory) const {
    std::vector<std::string> dirs{joined(m_path, subdirectory)};
    if (!m_language.empty() && m_language != "Base")
        dirs.push_back(joined(m_path + "/" + m_language + ".lproj", subdirectory));
    dirs.push_back(joined(m_path + "/Base.lproj", subdirectory));
    return dirs;
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type) const {
    if (name.empty()) return std::nullopt;
    std::string file(name);
    if (!type.empty()) file.append(".").append(type);
    for (const std::string& dir : searchDirectories({})) {
        const std::string candidate = dir + "/" + file;
        if (pathExists(candidate)) return candidate;
    }
    return std::nullopt;
}

std::vector<std::string> Bundle::pathsForResourcesOfType(std::string_view type, std::string_view subdirectory) const {
    std::string suffix;
    if (!type.empty()) suffix.append(".").append(type);
    std::map<std::string, std::string> byName;  // std::string orders bytes as unsigned: 'Z' < 'b'
    for (const std::string& dir : searchDirectories(subdirectory)) {
        DIR* entries = ::opendir(dir.c_str());
        if (!entries) continue;
        while (const dirent* entry = ::readdir(entries)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == ".." || name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
            byName.try_emplace(std::string(name), dir + "/" + std::string(name));
        }
        ::closedir(entries);
    }
    std::vector<std::string> paths;
    paths.reserve(byName.size());
    for (auto& entry : byName) paths.push_back(std::move(entry.second));
    return paths;
}

std::string Bundle::localizedString(std::string_view english) const {
    std::call_once(m_strings->read, [this] {
        if (m_language.empty()) return;
        const std::string path = m_path + "/" + m_language + ".lproj/Localizable.strings";
        Error error;
        std::optional<Value> table = readPropertyList(path, &error);
        if (table && table->dictionary())
            m_strings->table = std::move(*table);
        else if (table)
            log("%s: not a dictionary", path.c_str());
        else if (error.code != kFileReadNoSuchFileError)
            log("%s", error.message.c_str());
    });
    const Value* found = m_strings->table.find(english);
    return found && found->string() ? *found->string() : std::string(english);
}

std::string Bundle::localized(std::string_view english) {
    const Bundle* bundle = main();
    return bundle ? bundle->localizedString(english) : std::string(english);
}

std::string processName(const Bundle* bundle) {
    std::string name = bundle ? bundle->executableName() : std::string();
    return name.empty() ? std::string(program_invocation_short_name) : name;
}

}  // namespace plat::foundation
