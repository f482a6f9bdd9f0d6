#include "platform/sys/HardwareAddress.h"

#include <ifaddrs.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/socket.h>

#include <algorithm>

namespace plat::sys {

bool linkAddresses(std::vector<LinkAddress>& out) {
    out.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof link->sll_addr);
        out.push_back({entry->ifa_name ? entry->ifa_name : "", link->sll_hatype,
                       std::vector<std::uint8_t>(link->sll_addr, link->sll_addr + length)});
    }
    freeifaddrs(list);
    return true;
}

std::vector<std::uint8_t> firstEthernetAddress(const std::vector<LinkAddress>& addresses) {
    auto it = std::find_if(addresses.begin(), addresses.end(),
                           [](const LinkAddress& a) { return a.hardwareType == ARPHRD_ETHER; });
    return it == addresses.end() ? std::vector<std::uint8_t>() : it->address;
}

std::vector<std::uint8_t> ethernetAddress() {
    std::vector<LinkAddress> addresses;
    if (!linkAddresses(addresses)) return {};
    return firstEthernetAddress(addresses);
}

}  // namespace plat::sys
