// Named notifications (name, sender, a Value userInfo, null when none) delivered synchronously on the
// poster's thread to the registrations matching when the post began, in registration order; removal
// waits for calls of that registration under way on other threads. Each post is traced as
// "notify <name>", plus " from <Class>" when the sender names its class.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/foundation/Value.h"

namespace plat::foundation {

struct NotificationCenterState;

// Who posts: an object's address (what observers filter on) and its class name, which the trace
// line names ("DKReachability"). Both may be empty.
struct Sender {
    const void* object = nullptr;
    const char* className = nullptr;
};

struct Notification {
    const std::string& name;
    Sender sender;
    const Value& userInfo;  // null when the post carries none
};

using NotificationHandler = std::function<void(const Notification&)>;

// A registration that ends when the handle is destroyed (or `remove()` is called).
class [[nodiscard]] Observation {
public:
    Observation() = default;
    Observation(Observation&& other) noexcept
        : m_center(std::move(other.m_center)), m_id(std::exchange(other.m_id, 0)) {}
    Observation& operator=(Observation&& other) noexcept;
    ~Observation() { remove(); }
    void remove();
    bool isActive() const { return m_id != 0; }

private:
    friend class NotificationCenter;
    Observation(std::weak_ptr<NotificationCenterState> center, std::uint64_t id)
        : m_center(std::move(center)), m_id(id) {}
    std::weak_ptr<NotificationCenterState> m_center;
    std::uint64_t m_id = 0;
};

// Posting is synchronous on the poster's thread: the registrations matching at the start of the
// post are called in registration order, and one removed meanwhile is skipped. A registration made
// twice is called twice. Removal waits for calls of that registration under way on other threads,
// so once it returns nothing of it runs again (do not remove from inside a handler while another
// thread waits on a lock that handler takes). Every post is traced ("notify" category) as
// "<name>" plus " from <class>" when the sender names its class.
class NotificationCenter {
public:
    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // An empty name matches every name; a null sender every sender. `observer` identifies the
    // registration for removeObserver (its destructor must call it).
    void addObserver(const void* observer, std::string name, const void* sender, NotificationHandler fn);
    Observation observe(std::string name, const void* sender, NotificationHandler fn);

    // All of the observer's registrations; or those of one name (empty: any) and sender (null: any).
    void removeObserver(const void* observer);
    void removeObserver(const void* observer, std::string_view name, const void* sender);

    void post(const std::string& name, Sender sender = {}, const Value& userInfo = {});

private:
    std::uint64_t add(const void* observer, std::string name, const void* sender, NotificationHandler fn);
    std::shared_ptr<NotificationCenterState> m_state;
};

}  // namespace plat::foundation
