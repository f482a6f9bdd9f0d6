// UUID strings and the choice of the hardware address.
#include <gtest/gtest.h>
#include <net/if_arp.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/sys/HardwareAddress.h"
#include "platform/sys/Uuid.h"

namespace {

using plat::sys::LinkAddress;

TEST(Uuid, UpperCaseTextOfARandomUuid) {
    const std::string a = plat::sys::newUUIDString(), b = plat::sys::newUUIDString();
    ASSERT_EQ(a.size(), 36u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(a[i], '-') << a;
        } else {
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(a[i])) && !std::islower(a[i])) << a;
        }
    }
    EXPECT_EQ(a[14], '4') << a;  // version 4: random
    EXPECT_NE(a, b);
}

TEST(HardwareAddress, TheFirstEthernetEntryInTheSystemsOrder) {
    const LinkAddress loopback{"lo", ARPHRD_LOOPBACK, std::vector<std::uint8_t>(6, 0)};
    const LinkAddress first{"eth0", ARPHRD_ETHER, {0x00, 0x1b, 0xa0, 0x0f, 0xfe, 0x0a}};
    const LinkAddress second{"wlan0", ARPHRD_ETHER, {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01}};
    const LinkAddress tunnel{"tun0", ARPHRD_NONE, {}};
    struct Case {
        std::vector<LinkAddress> list;
        std::vector<std::uint8_t> expected;
    } cases[] = {
        {{loopback, first, second}, first.address},
        {{tunnel, second, first}, second.address},
        {{loopback, tunnel}, {}},
        {{}, {}},
        {{loopback, {"veth", ARPHRD_ETHER, {}}, first}, {}},  // the first one has no address
    };
    for (const Case& c : cases) EXPECT_EQ(plat::sys::firstEthernetAddress(c.list), c.expected);
}

TEST(HardwareAddress, ReadsTheSystemsInterfaces) {
    std::vector<LinkAddress> addresses;
    ASSERT_TRUE(plat::sys::linkAddresses(addresses));
    bool sawLoopback = false;
    for (const LinkAddress& a : addresses) sawLoopback |= a.interfaceName == "lo" && a.hardwareType == ARPHRD_LOOPBACK;
    EXPECT_TRUE(sawLoopback);
    EXPECT_EQ(plat::sys::ethernetAddress(), plat::sys::firstEthernetAddress(addresses));
}

}  // namespace
