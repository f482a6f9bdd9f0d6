// Network reachability: the platform's flag bits for the internet or the link-local target, a pure
// function of the interfaces and the main routing table (computeReachabilityFlags), read through
// rtnetlink dumps. A started monitor listens to the link, IPv4 address and IPv4 route groups on a
// netlink fd source of the current loop, reads the state again whole on any message, and calls back
// only when its flags change. The override (--net wifi|wwan|none, else DROVIK_NET; the input
// script's "net" too) replaces the computation; setNetOverride wakes every running monitor through an
// eventfd on its own loop, so a change at run time is a change like any other.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::net {

// The platform's reachability flags.
enum ReachabilityFlag : std::uint32_t {
    kReachable = 0x2,
    kConnectionRequired = 0x4,
    kConnectionOnTraffic = 0x8,
    kInterventionRequired = 0x10,
    kConnectionOnDemand = 0x20,
    kIsDirect = 0x20000,
    kIsWWAN = 0x40000,
};

// What is watched: the internet (0.0.0.0; other addresses and host names count as it, as
// nothing here resolves them) or the link-local network (169.254.0.0).
enum class ReachabilityTarget { Internet, LinkLocal };

// 169.254.0.0 in host byte order, the link-local target's address.
inline constexpr std::uint32_t kLinkLocalNet = 0xA9FE0000;

// The target an IPv4 address (network byte order) stands for.
ReachabilityTarget targetForAddress(std::uint32_t networkOrderAddress);

// What the flags are computed from.
struct NetworkInterface {
    std::string name;
    unsigned index = 0;
    bool up = false;
    bool running = false;
    bool loopback = false;
    std::vector<std::uint32_t> ipv4;  // host byte order
};

struct Route {  // an IPv4 unicast route of the main table
    unsigned prefixLength = 0;  // 0: a default route
    std::string interfaceName;
    std::uint32_t metric = 0;
};

struct NetworkState {
    std::vector<NetworkInterface> interfaces;
    std::vector<Route> routes;
};

// Reachable when an up, running, non-loopback interface holds an IPv4 address and a default
// route exists; IsWWAN too when the default route of lowest metric leaves by a "ww*" or "ppp*"
// interface; IsDirect, for the link-local target, when an up, running, non-loopback interface
// holds a 169.254/16 address.
std::uint32_t computeReachabilityFlags(const NetworkState& state, ReachabilityTarget target);

// Reads the interfaces and routes through rtnetlink (in the calling thread's network namespace).
bool readNetworkState(NetworkState& out);

// The override that makes the answer independent of the machine: `--net wifi|wwan|none` or
// DROVIK_NET. Wi-Fi is Reachable (plus IsDirect for the link-local target), WWAN Reachable and
// IsWWAN, none nothing.
enum class NetOverride { WiFi, WWAN, None };

std::optional<NetOverride> parseNetOverride(std::string_view text);
std::uint32_t overrideFlags(NetOverride value, ReachabilityTarget target);
// The override in force: the last set, else DROVIK_NET's (read once; an unknown value is
// reported on standard error and ignored).
std::optional<NetOverride> netOverride();
// Sets it (nullopt: the machine's own state again). Any thread; each running monitor then looks
// again on its own loop and calls back if its flags changed.
void setNetOverride(std::optional<NetOverride> value);

// One watched target. Queries may come from any thread; start, stop and destruction belong on
// the thread of the loop that watches.
class Reachability {
public:
    explicit Reachability(ReachabilityTarget target = ReachabilityTarget::Internet);
    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    ReachabilityTarget target() const { return m_target; }

    // The flags now (the override's when one is in force); nothing when they cannot be read.
    std::optional<std::uint32_t> flags() const;

    // Watches on the calling thread's current run loop: `onChange` is called there with the new
    // flags each time they differ from the last seen (the first seen when starting), whether
    // the network or the override changed. False when the netlink socket cannot be opened.
    // Starting again restarts with the new callback.
    bool start(std::function<void(std::uint32_t flags)> onChange);
    // No call follows (on the loop's thread, from inside onChange too).
    void stop();
    bool isRunning() const { return m_watch != nullptr; }

private:
    struct Watch;
    ReachabilityTarget m_target;
    std::unique_ptr<Watch> m_watch;
};

}  // namespace plat::net
