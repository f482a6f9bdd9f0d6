#include "platform/net/Reachability.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"

namespace plat::net {

using plat::foundation::FdSource;
using plat::foundation::kFdRead;
using plat::foundation::RunLoop;

namespace {

constexpr std::uint32_t kLinkLocalMask = 0xFFFF0000;

bool usable(const NetworkInterface& i) {
    return i.up && i.running && !i.loopback;
}

// ---- rtnetlink ----

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

template <class Header>
bool requestDump(int fd, std::uint16_t type, std::uint32_t sequence, const Header& header) {
    struct {
        nlmsghdr message;
        Header body;
    } request{};
    request.message.nlmsg_len = NLMSG_LENGTH(sizeof(Header));
    request.message.nlmsg_type = type;
    request.message.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.message.nlmsg_seq = sequence;
    request.body = header;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return sendto(fd, &request, request.message.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
           static_cast<ssize_t>(request.message.nlmsg_len);
}

// Reads the answer to a dump, handing each message of it to `each`; false on an error.
template <class Each>
bool readDump(int fd, std::uint32_t sequence, Each&& each) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        int left = static_cast<int>(n);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_seq != sequence) continue;
            if (message->nlmsg_type == NLMSG_DONE) return true;
            if (message->nlmsg_type == NLMSG_ERROR) return false;
            each(message);
        }
    }
}

template <class Each>
void eachAttribute(rtattr* attribute, int length, Each&& each) {
    for (; RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) each(attribute);
}

void readLink(nlmsghdr* message, NetworkState& state) {
    if (message->nlmsg_type != RTM_NEWLINK) return;
    auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(message));
    NetworkInterface i;
    i.index = static_cast<unsigned>(info->ifi_index);
    i.up = info->ifi_flags & IFF_UP;
    i.running = info->ifi_flags & IFF_RUNNING;
    i.loopback = info->ifi_flags & IFF_LOOPBACK;
    eachAttribute(IFLA_RTA(info), static_cast<int>(IFLA_PAYLOAD(message)), [&](rtattr* a) {
        if (a->rta_type == IFLA_IFNAME) i.name.assign(static_cast<const char*>(RTA_DATA(a)), strnlen(static_cast<const char*>(RTA_DATA(a)), RTA_PAYLOAD(a)));
    });
    state.interfaces.push_back(std::move(i));
}

void readAddress(nlmsghdr* message, NetworkState& state) {
    if (message->nlmsg_type != RTM_NEWADDR) return;
    auto* info = static_cast<ifaddrmsg*>(NLMSG_DATA(message));
    if (info->ifa_family != AF_INET) return;
    std::optional<std::uint32_t> local, address;
    eachAttribute(IFA_RTA(info), static_cast<int>(IFA_PAYLOAD(message)), [&](rtattr* a) {
        if (RTA_PAYLOAD(a) < 4) return;
        std::uint32_t value;
        std::memcpy(&value, RTA_DATA(a), 4);
        if (a->rta_type == IFA_LOCAL) local = ntohl(value);
        if (a->rta_type == IFA_ADDRESS) address = ntohl(value);
    });
    std::optional<std::uint32_t> held = local ? local : address;
    if (!held) return;
    for (NetworkInterface& i : state.interfaces)
        if (i.index == info->ifa_index) i.ipv4.push_back(*held);
}

void readRoute(nlmsghdr* message, NetworkState& state, const std::map<unsigned, std::string>& names) {
    if (message->nlmsg_type != RTM_NEWROUTE) return;
    auto* info = static_cast<rtmsg*>(NLMSG_DATA(message));
    if (info->rtm_family != AF_INET || info->rtm_type != RTN_UNICAST) return;
    std::uint32_t table = info->rtm_table;
    unsigned oif = 0;
    Route route;
    route.prefixLength = info->rtm_dst_len;
    eachAttribute(RTM_RTA(info), static_cast<int>(RTM_PAYLOAD(message)), [&](rtattr* a) {
        if (a->rta_type == RTA_TABLE && RTA_PAYLOAD(a) >= 4) std::memcpy(&table, RTA_DATA(a), 4);
        if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= 4) std::memcpy(&oif, RTA_DATA(a), 4);
        if (a->rta_type == RTA_PRIORITY && RTA_PAYLOAD(a) >= 4) std::memcpy(&route.metric, RTA_DATA(a), 4);
        if (a->rta_type == RTA_MULTIPATH && RTA_PAYLOAD(a) >= sizeof(rtnexthop) && oif == 0)
            oif = static_cast<unsigned>(static_cast<rtnexthop*>(RTA_DATA(a))->rtnh_ifindex);
    });
    if (table != RT_TABLE_MAIN) return;
    auto name = names.find(oif);
    if (name != names.end()) route.interfaceName = name->second;
    state.routes.push_back(std::move(route));
}

// ---- the override and the running watches it wakes ----

std::mutex g_mutex;
std::optional<NetOverride> g_override;
bool g_overrideRead = false;
std::vector<int> g_wakeFds;  // one per running watch

void wake(int fd) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

}  // namespace

ReachabilityTarget targetForAddress(std::uint32_t networkOrderAddress) {
    return ntohl(networkOrderAddress) == kLinkLocalNet ? ReachabilityTarget::LinkLocal : ReachabilityTarget::Internet;
}

std::uint32_t computeReachabilityFlags(const NetworkState& state, ReachabilityTarget target) {
    std::uint32_t flags = 0;
    bool addressed = std::any_of(state.interfaces.begin(), state.interfaces.end(),
                                 [](const NetworkInterface& i) { return usable(i) && !i.ipv4.empty(); });
    const Route* route = nullptr;
    for (const Route& r : state.routes)
        if (r.prefixLength == 0 && (!route || r.metric < route->metric)) route = &r;
    if (addressed && route) {
        flags |= kReachable;
        const std::string& name = route->interfaceName;
        if (name.starts_with("ww") || name.starts_with("ppp")) flags |= kIsWWAN;
    }
    if (target == ReachabilityTarget::LinkLocal) {
        for (const NetworkInterface& i : state.interfaces) {
            if (!usable(i)) continue;
            if (std::any_of(i.ipv4.begin(), i.ipv4.end(),
                            [](std::uint32_t a) { return (a & kLinkLocalMask) == kLinkLocalNet; }))
                flags |= kIsDirect;
        }
    }
    return flags;
}

bool readNetworkState(NetworkState& out) {
    out = {};
    Fd fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (fd.get() < 0) return false;
    timeval limit{2, 0};  // the kernel answers at once; this only keeps a broken socket from hanging us
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) return false;

    ifinfomsg link{};
    link.ifi_family = AF_UNSPEC;
    if (!requestDump(fd.get(), RTM_GETLINK, 1, link) ||
        !readDump(fd.get(), 1, [&](nlmsghdr* m) { readLink(m, out); }))
        return false;
    ifaddrmsg address{};
    address.ifa_family = AF_INET;
    if (!requestDump(fd.get(), RTM_GETADDR, 2, address) ||
        !readDump(fd.get(), 2, [&](nlmsghdr* m) { readAddress(m, out); }))
        return false;
    std::map<unsigned, std::string> names;
    for (const NetworkInterface& i : out.interfaces) names[i.index] = i.name;
    rtmsg route{};
    route.rtm_family = AF_INET;
    return requestDump(fd.get(), RTM_GETROUTE, 3, route) &&
           readDump(fd.get(), 3, [&](nlmsghdr* m) { readRoute(m, out, names); });
}

std::optional<NetOverride> parseNetOverride(std::string_view text) {
    if (text == "wifi") return NetOverride::WiFi;
    if (text == "wwan") return NetOverride::WWAN;
    if (text == "none") return NetOverride::None;
    return std::nullopt;
}

std::uint32_t overrideFlags(NetOverride value, ReachabilityTarget target) {
    switch (value) {
    case NetOverride::WiFi:
        return target == ReachabilityTarget::LinkLocal ? kReachable | kIsDirect : kReachable;
    case NetOverride::WWAN:
        return kReachable | kIsWWAN;
    case NetOverride::None:
        break;
    }
    return 0;
}

std::optional<NetOverride> netOverride() {
    std::lock_guard lock(g_mutex);
    if (!g_overrideRead) {
        g_overrideRead = true;
        const char* text = std::getenv("DROVIK_NET");
        if (text && *text) {
            g_override = parseNetOverride(text);
            if (!g_override) plat::foundation::log("DROVIK_NET: unknown value \"%s\" (wifi, wwan or none)", text);
        }
    }
    return g_override;
}

void setNetOverride(std::optional<NetOverride> value) {
    std::lock_guard lock(g_mutex);
    g_overrideRead = true;
    g_override = value;
    for (int fd : g_wakeFds) wake(fd);
}

namespace {

// The override's flags when one is in force, else the machine's; nothing when they cannot be read.
std::optional<std::uint32_t> currentFlags(ReachabilityTarget target) {
    if (auto o = netOverride()) return overrideFlags(*o, target);
    NetworkState state;
    if (!readNetworkState(state)) return std::nullopt;
    return computeReachabilityFlags(state, target);
}

}  // namespace

// A started watch: the netlink socket for the kernel's changes and an eventfd for the override's.
struct Reachability::Watch {
    ReachabilityTarget target;
    std::function<void(std::uint32_t)> onChange;
    std::uint32_t last = 0;
    int netlinkFd = -1;
    int wakeFd = -1;
    FdSource netlinkSource;
    FdSource wakeSource;

    ~Watch() {
        netlinkSource.remove();
        wakeSource.remove();
        if (wakeFd >= 0) {
            std::lock_guard lock(g_mutex);
            std::erase(g_wakeFds, wakeFd);
        }
        if (wakeFd >= 0) close(wakeFd);
        if (netlinkFd >= 0) close(netlinkFd);
    }


    // The callback may stop or destroy the monitor: nothing of this object is touched after it.
    void check() {
        std::uint32_t now = currentFlags(target).value_or(0);
        if (now == last) return;
        last = now;
        auto fn = onChange;
        if (fn) fn(now);
    }
};

Reachability::Reachability(ReachabilityTarget target) : m_target(target) {}

Reachability::~Reachability() {
    stop();
}

std::optional<std::uint32_t> Reachability::flags() const {
    return currentFlags(m_target);
}

bool Reachability::start(std::function<void(std::uint32_t)> onChange) {
    stop();
    auto watch = std::make_unique<Watch>();
    watch->target = m_target;
    watch->onChange = std::move(onChange);
    watch->netlinkFd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (watch->netlinkFd < 0) return false;
    sockaddr_nl groups{};
    groups.nl_family = AF_NETLINK;
    groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (bind(watch->netlinkFd, reinterpret_cast<sockaddr*>(&groups), sizeof groups) != 0) return false;
    watch->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (watch->wakeFd < 0) return false;
    {
        std::lock_guard lock(g_mutex);
        g_wakeFds.push_back(watch->wakeFd);
    }
    watch->last = currentFlags(m_target).value_or(0);

    RunLoop& loop = RunLoop::current();
    Watch* w = watch.get();
    watch->netlinkSource = loop.addFdSource(w->netlinkFd, kFdRead, [w](unsigned) {
        // What changed does not matter: the state is read again whole. A full socket (ENOBUFS)
        // lost some news, which the fresh read covers too.
        char buffer[8192];
        for (;;) {
            ssize_t n = recv(w->netlinkFd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS))) continue;
            break;
        }
        w->check();
    });
    watch->wakeSource = loop.addFdSource(w->wakeFd, kFdRead, [w](unsigned) {
        std::uint64_t count;
        [[maybe_unused]] ssize_t n = read(w->wakeFd, &count, sizeof count);
        w->check();
    });
    m_watch = std::move(watch);
    return true;
}

void Reachability::stop() {
    m_watch.reset();
}

}  // namespace plat::net
