#include "platform/net/Servers.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"

namespace plat::net {

using plat::foundation::Value;

namespace {

std::mutex g_mutex;
std::map<std::string, std::optional<Value>> g_files;  // by path; nothing for a bad file
std::set<std::string> g_reported;                     // "path\nname" of bad entries

}  // namespace

std::string serverBase(std::string_view name, std::string_view fallback) {
    const char* path = std::getenv("DROVIK_SERVERS");
    if (!path || !*path) return std::string(fallback);
    std::lock_guard lock(g_mutex);
    auto file = g_files.find(path);
    if (file == g_files.end()) {
        plat::foundation::Error error;
        std::optional<Value> servers = plat::foundation::readPropertyList(path, &error);
        if (!servers) {
            plat::foundation::log("DROVIK_SERVERS: %s", error.message.c_str());
        } else if (!servers->dictionary()) {
            plat::foundation::log("DROVIK_SERVERS: %s holds no dictionary", path);
            servers.reset();
        }
        file = g_files.emplace(path, std::move(servers)).first;
    }
    if (!file->second) return std::string(fallback);
    const Value* entry = file->second->find(name);
    if (!entry) return std::string(fallback);
    if (const std::string* base = entry->string()) return *base;
    if (g_reported.insert(std::string(path) + "\n" + std::string(name)).second)
        plat::foundation::log("DROVIK_SERVERS: the entry \"%.*s\" of %s is no string", static_cast<int>(name.size()),
                              name.data(), path);
    return std::string(fallback);
}

}  // namespace plat::net
