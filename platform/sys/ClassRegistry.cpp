#include "platform/sys/ClassRegistry.h"

#include <map>
#include <mutex>

namespace plat::sys {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::function<bool()>, std::less<>> classes;
};

Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

void registerClass(std::string name, std::function<bool()> present) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.classes[std::move(name)] = std::move(present);
}

void unregisterClass(std::string_view name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto it = r.classes.find(name); it != r.classes.end()) r.classes.erase(it);
}

bool hasClass(std::string_view name) {
    std::function<bool()> present;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.classes.find(name);
        if (it == r.classes.end()) return false;
        present = it->second;
    }
    // Asked outside the lock: it may read files, or register more.
    return present && present();
}

}  // namespace plat::sys
