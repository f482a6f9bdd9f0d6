#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"

namespace plat::foundation {

namespace {

TraceCategory kNotify("notify");

struct Registration {
    std::uint64_t id;
    const void* observer;
    std::string name;
    const void* sender;
    NotificationHandler fn;

    std::mutex mutex;
    std::condition_variable idle;
    bool alive = true;
    std::vector<std::thread::id> calling;  // threads inside fn

    bool matches(const std::string& posted, const void* from) const {
        return (name.empty() || name == posted) && (!sender || sender == from);
    }

    void call(const Notification& note) {
        std::thread::id self = std::this_thread::get_id();
        {
            std::lock_guard lock(mutex);
            if (!alive) return;
            calling.push_back(self);
        }
        struct Leave {
            Registration& r;
            std::thread::id self;
            ~Leave() {
                std::lock_guard lock(r.mutex);
                r.calling.erase(std::find(r.calling.begin(), r.calling.end(), self));
                if (!r.alive) r.idle.notify_all();
            }
        } leave{*this, self};
        fn(note);
    }

    // No call after this returns; calls under way on this thread (the remover's own handler
    // higher up the stack) are left to finish.
    void end() {
        std::thread::id self = std::this_thread::get_id();
        std::unique_lock lock(mutex);
        alive = false;
        idle.wait(lock, [&] {
            return std::all_of(calling.begin(), calling.end(), [&](std::thread::id t) { return t == self; });
        });
    }
};

}  // namespace

struct NotificationCenterState {
    std::mutex mutex;
    std::vector<std::shared_ptr<Registration>> registrations;
    std::uint64_t nextId = 1;

    // Takes the registrations chosen by `pick` out of the list, then ends each outside the lock.
    template <class Pick>
    void removeIf(Pick pick) {
        std::vector<std::shared_ptr<Registration>> removed;
        {
            std::lock_guard lock(mutex);
            auto split = std::stable_partition(registrations.begin(), registrations.end(),
                                               [&](const auto& r) { return !pick(*r); });
            removed.assign(split, registrations.end());
            registrations.erase(split, registrations.end());
        }
        for (auto& r : removed) r->end();
    }
};

Observation& Observation::operator=(Observation&& other) noexcept {
    if (this != &other) {
        remove();
        m_center = std::move(other.m_center);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void Observation::remove() {
    if (!m_id) return;
    if (auto center = m_center.lock()) {
        std::uint64_t id = m_id;
        center->removeIf([id](const Registration& r) { return r.id == id; });
    }
    m_id = 0;
    m_center.reset();
}

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may unregister from their destructors while the process exits.
    static auto* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter() : m_state(std::make_shared<NotificationCenterState>()) {}

NotificationCenter::~NotificationCenter() = default;

std::uint64_t NotificationCenter::add(const void* observer, std::string name, const void* sender,
                                      NotificationHandler fn) {
    std::lock_guard lock(m_state->mutex);
    auto r = std::make_shared<Registration>();
    r->id = m_state->nextId++;
    r->observer = observer;
    r->name = std::move(name);
    r->sender = sender;
    r->fn = std::move(fn);
    m_state->registrations.push_back(r);
    return r->id;
}

void NotificationCenter::addObserver(const void* observer, std::string name, const void* sender,
                                     NotificationHandler fn) {
    add(observer, std::move(name), sender, std::move(fn));
}

Observation NotificationCenter::observe(std::string name, const void* sender, NotificationHandler fn) {
    return Observation(m_state, add(nullptr, std::move(name), sender, std::move(fn)));
}

void NotificationCenter::removeObserver(const void* observer) {
    if (!observer) return;
    m_state->removeIf([observer](const Registration& r) { return r.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, std::string_view name, const void* sender) {
    if (!observer) return;
    m_state->removeIf([&](const Registration& r) {
        return r.observer == observer && (name.empty() || r.name == name) && (!sender || r.sender == sender);
    });
}

void NotificationCenter::post(const std::string& name, Sender sender, const Value& userInfo) {
    trace(kNotify, [&] {
        std::string text = name;
        if (sender.className && *sender.className) text.append(" from ").append(sender.className);
        return text;
    });
    std::vector<std::shared_ptr<Registration>> matching;
    {
        std::lock_guard lock(m_state->mutex);
        for (const auto& r : m_state->registrations)
            if (r->matches(name, sender.object)) matching.push_back(r);
    }
    Notification note{name, sender, userInfo};
    for (const auto& r : matching) r->call(note);
}

}  // namespace plat::foundation
