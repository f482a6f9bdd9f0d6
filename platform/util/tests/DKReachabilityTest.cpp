// The monitor's status mapping, its constructors, and its notifications on the main loop as the
// network override changes.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/net/tests/NetTestSupport.h"
#include "platform/util/DKReachability.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::NotificationCenter;
using plat::foundation::RunLoop;
using plat::net::NetOverride;
using plat::net::setNetOverride;

TEST(DKReachabilityFlags, MapToStatuses) {
    const struct Case {
        std::uint32_t flags;
        int network, localWiFi;
    } cases[] = {
        {0x0, 0, 0},     {0x2, 1, 0},  // reachable
        {0x40002, 2, 0},               // through the cellular network
        {0x40006, 2, 0},               // cellular wins over a connection required
        {0x40000, 0, 0},               // cellular but not reachable
        {0x6, 0, 0},                   // a connection required, made by nothing
        {0xe, 1, 0},                   // ... made on traffic
        {0x26, 1, 0},                  // ... made on demand
        {0x1e, 0, 0},                  // ... on traffic, but someone must act
        {0x36, 0, 0},                  // ... on demand, but someone must act
        {0x16, 0, 0},                  // required with intervention
        {0x12, 1, 0},                  // intervention without a connection required does not matter
        {0x20002, 1, 1},               // reachable and direct: the local Wi-Fi
        {0x20000, 0, 0},               // direct, not reachable
        {0x60002, 2, 1}, {0x2002e, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DKReachability::networkStatusForFlags(c.flags), c.network) << std::hex << c.flags;
        EXPECT_EQ(DKReachability::localWiFiStatusForFlags(c.flags), c.localWiFi) << std::hex << c.flags;
    }
}

sockaddr_in address(const char* text, sa_family_t family = AF_INET) {
    sockaddr_in a{};
    a.sin_family = family;
    inet_pton(AF_INET, text, &a.sin_addr);
    return a;
}

TEST(DKReachability, EachConstructorWatchesItsTarget) {
    EXPECT_EQ(DKReachability::reachabilityWithHostName(""), nullptr);
    EXPECT_EQ(DKReachability::reachabilityWithAddress(address("10.0.0.1", AF_INET6)), nullptr);
    struct Made {
        const char* what;
        std::unique_ptr<DKReachability> monitor;
        bool localWiFi;
        int wifi, wwan;  // statuses under those overrides
    } made[] = {
        {"internet", DKReachability::reachabilityForInternetConnection(), false, 1, 2},
        {"local Wi-Fi", DKReachability::reachabilityForLocalWiFi(), true, 1, 0},
        {"host name", DKReachability::reachabilityWithHostName("drovik.example"), false, 1, 2},
        {"an address", DKReachability::reachabilityWithAddress(address("192.0.2.1")), false, 1, 2},
        // The link-local address without the local Wi-Fi constructor maps as any other.
        {"link-local address", DKReachability::reachabilityWithAddress(address("169.254.0.0")), false, 1, 2},
    };
    for (Made& m : made) {
        ASSERT_TRUE(m.monitor) << m.what;
        EXPECT_EQ(m.monitor->localWiFiRef(), m.localWiFi) << m.what;
        setNetOverride(NetOverride::WiFi);
        EXPECT_EQ(m.monitor->currentReachabilityStatus(), m.wifi) << m.what;
        setNetOverride(NetOverride::WWAN);
        EXPECT_EQ(m.monitor->currentReachabilityStatus(), m.wwan) << m.what;
        EXPECT_FALSE(m.monitor->connectionRequired()) << m.what;
        setNetOverride(NetOverride::None);
        EXPECT_EQ(m.monitor->currentReachabilityStatus(), 0) << m.what;
    }
    setNetOverride(std::nullopt);
}

// Trace lines without their time stamps.
std::string untimed(const std::string& text) {
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) out += line.substr(line.find(' ') + 1) + "\n";
    return out;
}

TEST(DKReachability, NotifiesOnTheMainLoopWhenTheNetworkChanges) {
    RunLoop& main = RunLoop::main();
    ASSERT_TRUE(main.isCurrentThread());
    dktest::TempDir dir;
    ASSERT_TRUE(plat::foundation::Trace::configure("net,notify", dir.file("trace").c_str()));
    setNetOverride(NetOverride::WiFi);
    std::unique_ptr<DKReachability> internet = DKReachability::reachabilityForInternetConnection();
    std::unique_ptr<DKReachability> local = DKReachability::reachabilityForLocalWiFi();
    std::vector<std::string> seen;
    plat::foundation::Observation observation = NotificationCenter::defaultCenter().observe(
        DKNetworkReachabilityChangedNotification, nullptr, [&](const plat::foundation::Notification& n) {
            auto* sender = static_cast<const DKReachability*>(n.sender.object);
            seen.push_back(std::string(sender == internet.get() ? "internet " : "local ") +
                           std::to_string(sender->currentReachabilityStatus()) +
                           (main.isCurrentThread() ? "" : " off main"));
        });
    ASSERT_TRUE(internet->startNotifier());
    ASSERT_TRUE(local->startNotifier());
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };

    // Changed from another thread: both flags change, and both post on the main loop.
    std::thread([] { setNetOverride(NetOverride::WWAN); }).join();
    ASSERT_TRUE(dktest::runUntil(main, [&] { return seen.size() == 2; }));
    EXPECT_EQ(sorted(seen), (std::vector<std::string>{"internet 2", "local 0"}));
    const std::string posted = "notify DKNetworkReachabilityChangedNotification from DKReachability\n";
    // Each post follows the trace of the status its monitor has then.
    const std::string lines = untimed(dktest::readFile(dir.file("trace")));
    const std::string wwan = "net status 2\n" + posted, localOff = "net status 0\n" + posted;
    EXPECT_TRUE(lines == wwan + localOff || lines == localOff + wwan) << lines;

    // Neither a stopped monitor nor one destroyed while it watches posts again.
    internet->stopNotifier();
    local.reset();
    setNetOverride(NetOverride::None);
    main.runFor(0.1);
    EXPECT_EQ(seen.size(), 2u);
    setNetOverride(std::nullopt);
    plat::foundation::Trace::configure("", "");
}

#ifndef NDEBUG
TEST(DKReachabilityDeathTest, TheCallbackChecksItsContext) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int other = 0;
    EXPECT_DEATH(ReachabilityCallback(0x2, nullptr), "info was NULL in ReachabilityCallback");
    EXPECT_DEATH(ReachabilityCallback(0x2, &other), "info was wrong class in ReachabilityCallback");
}
#endif

}  // namespace
