// Reachability: the flags as a function of interfaces and routes, the override and its change
// calls on the main loop, and the netlink watch for real inside a network namespace.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Queue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/net/ReachabilityMonitor.h"
#include "platform/net/tests/NetTestSupport.h"
#include "tests/support/TestMain.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace plat::net;
using plat::foundation::LoopThread;
using plat::foundation::RunLoop;

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return a << 24 | b << 16 | c << 8 | d;
}

NetworkInterface interface(std::string name, std::vector<std::uint32_t> addresses, bool up = true,
                           bool running = true) {
    NetworkInterface i;
    i.name = std::move(name);
    i.up = up;
    i.running = running;
    i.loopback = i.name == "lo";
    i.ipv4 = std::move(addresses);
    return i;
}

Route defaultRoute(std::string via, std::uint32_t metric = 0) {
    return Route{0, std::move(via), metric};
}

TEST(ReachabilityFlags, FollowInterfacesAndRoutes) {
    const auto lo = interface("lo", {ip(127, 0, 0, 1)});
    const auto eth = interface("eth0", {ip(192, 168, 1, 5)});
    const auto linkLocal = interface("eth1", {ip(169, 254, 7, 9)});
    const Route subnet{24, "eth0", 0};
    struct Case {
        const char* what;
        NetworkState state;
        std::uint32_t internet, local;
    } cases[] = {
        {"nothing", {}, 0, 0},
        {"loopback only, even with a route", {{lo}, {defaultRoute("lo")}}, 0, 0},
        {"address and default route", {{lo, eth}, {subnet, defaultRoute("eth0")}}, 0x2, 0x2},
        {"address, no default route", {{eth}, {subnet}}, 0, 0},
        {"default route, no address", {{interface("eth0", {})}, {defaultRoute("eth0")}}, 0, 0},
        {"interface down", {{interface("eth0", {ip(10, 0, 0, 2)}, false, false)}, {defaultRoute("eth0")}}, 0, 0},
        {"no carrier", {{interface("eth0", {ip(10, 0, 0, 2)}, true, false)}, {defaultRoute("eth0")}}, 0, 0},
        {"cellular route", {{interface("wwan0", {ip(10, 1, 0, 2)})}, {defaultRoute("wwan0")}}, 0x40002, 0x40002},
        {"ppp route", {{interface("ppp0", {ip(10, 1, 0, 2)})}, {defaultRoute("ppp0")}}, 0x40002, 0x40002},
        {"lowest metric wins",
         {{eth, interface("wwan0", {ip(10, 1, 0, 2)})}, {defaultRoute("wwan0", 700), defaultRoute("eth0", 100)}},
         0x2, 0x2},
        {"lowest metric wins (cellular)",
         {{eth, interface("wwan0", {ip(10, 1, 0, 2)})}, {defaultRoute("wwan0", 10), defaultRoute("eth0", 100)}},
         0x40002, 0x40002},
        {"link-local address with a route", {{linkLocal}, {defaultRoute("eth1")}}, 0x2, 0x20002},
        {"link-local address alone", {{linkLocal}, {}}, 0, 0x20000},
        {"link-local address on a down interface", {{interface("eth1", {ip(169, 254, 1, 1)}, false, false)}, {}}, 0, 0},
        {"169.255 is not link-local", {{interface("eth1", {ip(169, 255, 1, 1)})}, {}}, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(computeReachabilityFlags(c.state, ReachabilityTarget::Internet), c.internet) << c.what;
        EXPECT_EQ(computeReachabilityFlags(c.state, ReachabilityTarget::LinkLocal), c.local) << c.what;
    }
}

TEST(ReachabilityFlags, OnlyTheLinkLocalNetworkIsItsOwnTarget) {
    EXPECT_EQ(targetForAddress(htonl(ip(169, 254, 0, 0))), ReachabilityTarget::LinkLocal);
    EXPECT_EQ(targetForAddress(htonl(ip(169, 254, 0, 1))), ReachabilityTarget::Internet);
}

TEST(ReachabilityOverride, ValuesAndTheirFlags) {
    struct Case {
        const char* text;
        std::optional<NetOverride> value;
        std::uint32_t internet, local;
    } cases[] = {
        {"wifi", NetOverride::WiFi, 0x2, 0x20002},
        {"wwan", NetOverride::WWAN, 0x40002, 0x40002},
        {"none", NetOverride::None, 0, 0},
        {"WiFi", std::nullopt, 0, 0},
        {"", std::nullopt, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseNetOverride(c.text), c.value) << c.text;
        if (!c.value) continue;
        setNetOverride(c.value);
        EXPECT_EQ(Reachability(ReachabilityTarget::Internet).flags(), c.internet) << c.text;
        EXPECT_EQ(Reachability(ReachabilityTarget::LinkLocal).flags(), c.local) << c.text;
    }
    setNetOverride(std::nullopt);
}

TEST(ReachabilityOverride, ReadFromTheEnvironment) {
    // A fresh process: the override is read from DROVIK_NET once, at first use.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    auto run = [&](const char* value) {
        return dktest::runProcess({self}, {std::string("DROVIK_NET=") + value, "DK_TEST_ROLE=printOverride"});
    };
    EXPECT_NE(run("wwan").out.find("override 0x40002"), std::string::npos);
    EXPECT_NE(run("none").out.find("override 0x0"), std::string::npos);
    auto bad = run("cable");
    EXPECT_NE(bad.out.find("override -"), std::string::npos);
    EXPECT_NE(bad.err.find("DROVIK_NET: unknown value \"cable\" (wifi, wwan or none)"), std::string::npos);
}

// The child side of the test above.
DK_TEST_ROLE(printOverride) {
    auto value = netOverride();
    if (value) {
        std::printf("override 0x%x\n", overrideFlags(*value, ReachabilityTarget::Internet));
    } else {
        std::printf("override -\n");
    }
    return 0;
}

TEST(ReachabilityOverride, ChangesAreReportedOnTheMainLoop) {
    ASSERT_TRUE(RunLoop::current().isCurrentThread());
    RunLoop& main = RunLoop::main();
    setNetOverride(NetOverride::WiFi);
    Reachability internet(ReachabilityTarget::Internet), local(ReachabilityTarget::LinkLocal);
    std::vector<std::string> seen;
    auto noting = [&](const char* who) {
        return [&, who](std::uint32_t flags) {
            char text[64];
            std::snprintf(text, sizeof text, "%s 0x%x%s", who, flags, main.isCurrentThread() ? "" : " off main");
            seen.push_back(text);
        };
    };
    ASSERT_TRUE(internet.start(noting("internet")));
    ASSERT_TRUE(local.start(noting("local")));

    // Set from another thread; the calls come on the main loop.
    std::thread([] { setNetOverride(NetOverride::WWAN); }).join();
    ASSERT_TRUE(dktest::runUntil(main, [&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<std::string>{"internet 0x40002", "local 0x40002"}));

    // The same value again changes nothing; "wifi" changes both, and "none" clears them.
    setNetOverride(NetOverride::WWAN);
    main.runFor(0.1);
    EXPECT_EQ(seen.size(), 2u);
    setNetOverride(NetOverride::WiFi);
    setNetOverride(NetOverride::None);  // before the loop turns: each looks once and sees "none"
    ASSERT_TRUE(dktest::runUntil(main, [&] { return seen.size() == 4; }));
    main.runFor(0.1);
    EXPECT_EQ(seen, (std::vector<std::string>{"internet 0x40002", "local 0x40002", "internet 0x0", "local 0x0"}));

    // Stopped from inside its own call: no further call.
    seen.clear();
    local.stop();
    ASSERT_TRUE(internet.start([&](std::uint32_t flags) {
        seen.push_back("internet " + std::to_string(flags));
        internet.stop();
    }));
    setNetOverride(NetOverride::WiFi);
    ASSERT_TRUE(dktest::runUntil(main, [&] { return !seen.empty(); }));
    setNetOverride(NetOverride::None);
    main.runFor(0.1);
    EXPECT_EQ(seen, (std::vector<std::string>{"internet 2"}));
    EXPECT_FALSE(internet.isRunning());
    setNetOverride(std::nullopt);
}

TEST(ReachabilityWatch, FollowsTheKernelInANetworkNamespace) {
    setNetOverride(std::nullopt);
    dktest::NetworkNamespace ns;
    if (!ns.made()) GTEST_SKIP() << "cannot make a network namespace here (needs root and ip)";

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint32_t> seen;
    auto waitFor = [&](std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return seen.size() >= count; });
    };

    // The watch's thread joins the namespace; its sockets belong there.
    LoopThread thread("netns-watch");
    std::unique_ptr<Reachability> watch;
    std::optional<std::uint32_t> initial;
    bool joined = false, started = false;
    thread.loop().performAndWait([&] {
        int fd = open(("/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
        joined = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0) close(fd);
        if (!joined) return;
        watch = std::make_unique<Reachability>(ReachabilityTarget::Internet);
        initial = watch->flags();
        started = watch->start([&](std::uint32_t flags) {
            std::lock_guard lock(mutex);
            seen.push_back(flags);
            changed.notify_all();
        });
    });
    ASSERT_TRUE(joined);
    ASSERT_TRUE(started);
    EXPECT_EQ(initial, 0u);  // only a loopback interface, down

    // An address on an interface that is up and has carrier: still no default route, no call.
    ASSERT_TRUE(ns.ip({"link", "add", "wwan0", "type", "veth", "peer", "name", "peer0"}));
    ASSERT_TRUE(ns.ip({"addr", "add", "10.77.0.2/24", "dev", "wwan0"}));
    ASSERT_TRUE(ns.ip({"link", "set", "peer0", "up"}));
    ASSERT_TRUE(ns.ip({"link", "set", "wwan0", "up"}));
    // The default route through the cellular-named interface.
    ASSERT_TRUE(ns.ip({"route", "add", "default", "via", "10.77.0.1", "dev", "wwan0"}));
    ASSERT_TRUE(waitFor(1));
    // Taking the link down removes its routes.
    ASSERT_TRUE(ns.ip({"link", "set", "wwan0", "down"}));
    ASSERT_TRUE(waitFor(2));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(seen, (std::vector<std::uint32_t>{0x40002, 0}));
    }
    thread.loop().performAndWait([&] { watch.reset(); });
}

#ifndef NDEBUG
// The classes built on the monitor share one registry: a callback must still refuse an owner of
// another class, and one whose monitor is gone.
TEST(ReachabilityMonitorDeathTest, ACallbackTakesOnlyALiveOwnerOfItsKind) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int owner = 0;
    {
        ReachabilityMonitor monitor(ReachabilityMonitor::forInternetConnection(), &owner, "One");
        EXPECT_TRUE(ReachabilityMonitor::checkContext(&owner, "One"));
        EXPECT_DEATH(ReachabilityMonitor::checkContext(&owner, "Other"), "info was wrong class");
    }
    EXPECT_DEATH(ReachabilityMonitor::checkContext(&owner, "One"), "info was wrong class");
}
#endif

}  // namespace
