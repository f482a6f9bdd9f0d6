#include "platform/net/Servers.h"

#include <cctype>
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
std::map<std::string, std::string, std::less<>> g_overrides;

struct KnownServer {
    std::string_view name;
    std::string_view base;
};
constexpr KnownServer kKnownServers[] = {
    {"trackwell.collector.1", "http://collector1.trackwell.invalid:8888"},
    {"trackwell.collector.2", "http://collector2.trackwell.invalid:8888"},
    {"pagestats.collector", "http://collector.pagestats.invalid"},
    {"kiosk.api", "http://api.kiosk.invalid"},
    {"kiosk.media", "http://media.kiosk.invalid"},
    {"kiosk.store", "https://apps.store.invalid"},
    {"orbad.data", "http://data.orbad.invalid"},
    {"orbad.vc", "http://vc.orbad.invalid"},
    {"orbad.ads", "http://ads.orbad.invalid"},
    {"orbad.script", "http://script.orbad.invalid"},
};

}  // namespace

std::string serverBase(std::string_view name, std::string_view fallback) {
    std::lock_guard lock(g_mutex);
    if (auto over = g_overrides.find(name); over != g_overrides.end()) return over->second;
    const char* path = std::getenv("DROVIK_SERVERS");
    if (!path || !*path) return std::string(fallback);
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

std::string serverURL(std::string_view name, std::string_view fallback, std::string_view path) {
    std::string base = serverBase(name, fallback);
    while (base.ends_with('/')) base.pop_back();
    return base.append(path);
}

std::string serverBase(std::string_view name) {
    for (const KnownServer& known : kKnownServers)
        if (known.name == name) return serverBase(name, known.base);
    return serverBase(name, "");
}

void setServerBaseOverride(std::string_view name, std::string base) {
    std::lock_guard lock(g_mutex);
    if (base.empty())
        g_overrides.erase(std::string(name));
    else
        g_overrides[std::string(name)] = std::move(base);
}

std::string ServerAddress::origin() const {
    return scheme + "://" + host + ":" + std::to_string(port);
}

bool parseServerAddress(std::string_view base, int defaultPort, ServerAddress& out) {
    std::size_t colon = base.find("://");
    if (colon == std::string_view::npos) return false;
    std::string scheme(base.substr(0, colon));
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "http" && scheme != "https") return false;
    std::string_view rest = base.substr(colon + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
    std::string_view host = rest, port;
    if (rest.starts_with('[')) {
        std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return false;
        host = rest.substr(0, close + 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return false;
            port = rest.substr(close + 2);
        }
    } else if (std::size_t c = rest.find(':'); c != std::string_view::npos) {
        host = rest.substr(0, c);
        port = rest.substr(c + 1);
    }
    if (host.empty()) return false;
    int number = defaultPort;
    if (!port.empty()) {
        number = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || number > 65535) return false;
            number = number * 10 + (c - '0');
        }
        if (number < 1 || number > 65535) return false;
    }
    out = {std::move(scheme), std::string(host), number};
    return true;
}

bool isPlaceholderHost(std::string_view host) {
    std::string name(host);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!name.empty() && name.back() == '.') name.pop_back();
    return name == "invalid" || name.ends_with(".invalid");
}

bool isPlaceholderURL(std::string_view url) {
    ServerAddress address;
    return parseServerAddress(url, 80, address) && isPlaceholderHost(address.host);
}

}  // namespace plat::net
