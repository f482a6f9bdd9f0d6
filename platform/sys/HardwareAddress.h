// Link-level (hardware) addresses of the network interfaces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat::sys {

struct LinkAddress {
    std::string interfaceName;
    unsigned short hardwareType = 0;  // ARPHRD_*: Ethernet (Wi-Fi cards report it too), loopback...
    std::vector<std::uint8_t> address;
};

// The interfaces' link-level entries (AF_PACKET) in the system's order; false when the interface
// list cannot be read.
bool linkAddresses(std::vector<LinkAddress>& out);

// The first Ethernet entry's address; empty when there is none.
std::vector<std::uint8_t> firstEthernetAddress(const std::vector<LinkAddress>& addresses);

// The same over the system's interfaces; empty when they cannot be read.
std::vector<std::uint8_t> ethernetAddress();

}  // namespace plat::sys
