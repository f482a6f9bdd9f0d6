#include "platform/foundation/Pasteboard.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/PropertyList.h"
#include "platform/sys/AtomicFile.h"

namespace plat::foundation {

namespace {

std::mutex g_mutex;
std::string g_directory;

// Field 22 of /proc/PID/stat: the start time in clock ticks, which tells a live maker from a
// later process that got the same pid. 0 when the process is gone.
long long processStartTime(long long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) return std::atoll(field.c_str());
    return 0;
}

Value ownOwner() {
    // Looked up again after a fork: the child is another maker.
    static std::atomic<long long> cachedPid{0}, cachedStart{0};
    const long long pid = getpid();
    if (cachedPid.load() != pid) {
        cachedStart = processStartTime(pid);
        cachedPid = pid;
    }
    Value::Dictionary owner;
    owner["pid"] = Value(static_cast<int64_t>(pid));
    owner["start"] = Value(static_cast<int64_t>(cachedStart.load()));
    return Value(std::move(owner));
}

std::string pathFor(std::string_view name) {
    return Pasteboard::directory() + "/" + Pasteboard::fileNameFor(name);
}

// The pasteboard's dictionary; null when absent, damaged, or a dead maker's.
std::optional<Value::Dictionary> load(std::string_view name) {
    std::optional<Value> root = readPropertyList(pathFor(name));
    if (!root || !root->dictionary()) return std::nullopt;
    Value::Dictionary dict = *root->dictionary();
    const Value* items = root->find("items");
    if (!items || !items->dictionary()) return std::nullopt;
    const Value* persistent = root->find("persistent");
    if (!persistent || !persistent->boolValue()) {
        const Value* owner = root->find("owner");
        const Value* pid = owner ? owner->find("pid") : nullptr;
        const Value* start = owner ? owner->find("start") : nullptr;
        if (!pid || !start || processStartTime(pid->intValue()) != start->intValue()) return std::nullopt;
    }
    return dict;
}

bool save(std::string_view name, const Value::Dictionary& dict) {
    std::optional<std::string> bytes = serializePropertyList(Value(dict), PropertyListFormat::Binary);
    return bytes && plat::sys::writeFileAtomically(pathFor(name), *bytes);
}

// Held across a read-modify-write: every process's changes go one after the other.
FileLock directoryLock() {
    return FileLock(Pasteboard::directory() + "/.lock");
}

// The non-persistent pasteboards this process made, removed at its exit.
struct Made {
    std::mutex mutex;
    std::set<std::string> names;
    ~Made() {
        for (const std::string& name : names) {
            const FileLock lock = directoryLock();
            std::optional<Value::Dictionary> dict = load(name);
            if (!dict) continue;
            const Value& persistent = (*dict)["persistent"];
            if (!persistent.boolValue() && (*dict)["owner"] == ownOwner()) std::remove(pathFor(name).c_str());
        }
    }
};

Made& made() {
    static Made instance;
    return instance;
}

template <typename Change>
bool modify(std::string_view name, Change change) {
    const FileLock lock = directoryLock();
    if (!lock.held()) return false;
    std::optional<Value::Dictionary> dict = load(name);
    if (!dict) {
        dict = Value::Dictionary{{"persistent", Value(false)}, {"owner", ownOwner()}, {"items", Value(Value::Dictionary{})}};
        std::lock_guard guard(made().mutex);
        made().names.insert(std::string(name));
    }
    change(*dict);
    return save(name, *dict);
}

}  // namespace

void Pasteboard::setDirectory(std::string directory) {
    std::lock_guard lock(g_mutex);
    g_directory = std::move(directory);
}

std::string Pasteboard::directory() {
    {
        std::lock_guard lock(g_mutex);
        if (!g_directory.empty()) return g_directory;
    }
    if (const char* env = std::getenv("DROVIK_PASTEBOARDS"); env && *env) return env;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/drovik-pasteboards";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.local/share/drovik-pasteboards";
}

std::string Pasteboard::fileNameFor(std::string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) && c < 0x80) {
            out += ch;
        } else if (c == '.' || c == '_' || c == '-') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    // "." and ".." would name directories; the lock file starts with a dot too.
    if (!out.empty() && out[0] == '.') out.replace(0, 1, "%2E");
    return out + ".plist";
}

std::unique_ptr<Pasteboard> Pasteboard::named(std::string_view name, bool create) {
    if (!create) {
        if (!load(name)) return nullptr;
    } else if (!modify(name, [](Value::Dictionary&) {})) {
        return nullptr;
    }
    return std::unique_ptr<Pasteboard>(new Pasteboard(std::string(name)));
}

void Pasteboard::remove(std::string_view name) {
    const FileLock lock = directoryLock();
    std::remove(pathFor(name).c_str());
}

std::vector<std::string> Pasteboard::names() {
    std::vector<std::string> out;
    DIR* dir = opendir(directory().c_str());
    if (!dir) return out;
    while (dirent* entry = readdir(dir)) {
        std::string file = entry->d_name;
        if (file.size() <= 6 || !file.ends_with(".plist")) continue;
        std::string name;
        for (std::size_t i = 0; i + 6 < file.size(); ++i) {
            if (file[i] == '%' && i + 2 + 6 < file.size()) {
                name += static_cast<char>(std::strtol(file.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            } else {
                name += file[i];
            }
        }
        if (fileNameFor(name) == file && load(name)) out.push_back(name);
    }
    closedir(dir);
    std::sort(out.begin(), out.end());
    return out;
}

bool Pasteboard::persistent() const {
    std::optional<Value::Dictionary> dict = load(m_name);
    return dict && (*dict)["persistent"].boolValue();
}

void Pasteboard::setPersistent(bool persistent) {
    modify(m_name, [&](Value::Dictionary& dict) {
        dict["persistent"] = Value(persistent);
        dict["owner"] = ownOwner();
    });
}

std::optional<Data> Pasteboard::dataForType(std::string_view type) const {
    std::optional<Value::Dictionary> dict = load(m_name);
    if (!dict) return std::nullopt;
    const Value* item = (*dict)["items"].find(type);
    if (!item || !item->data()) return std::nullopt;
    return *item->data();
}

bool Pasteboard::setData(const Data& data, std::string_view type) {
    return modify(m_name, [&](Value::Dictionary& dict) {
        Value::Dictionary* items = dict["items"].dictionary();
        if (!items) {
            dict["items"] = Value(Value::Dictionary{});
            items = dict["items"].dictionary();
        }
        (*items)[std::string(type)] = Value(data);
    });
}

std::optional<std::string> Pasteboard::string() const {
    std::optional<Data> data = dataForType(kPasteboardTypeUTF8PlainText);
    if (!data) return std::nullopt;
    return std::string(data->begin(), data->end());
}

bool Pasteboard::setString(std::string_view text) {
    return setData(Data(text.begin(), text.end()), kPasteboardTypeUTF8PlainText);
}

}  // namespace plat::foundation
