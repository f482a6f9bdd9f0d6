// The two status rules over every combination of flags, the constructors' targets, and the
// notifications the network override's changes post on the loop that scheduled the watch.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "orbad/core/OrbadReachability.h"
#include "orbad/tests/OrbadTestSupport.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"

namespace {

using orbad::OrbadReachability;
using plat::net::NetOverride;
using plat::net::setNetOverride;

TEST(OrbadReachability, RulesOverEveryCombinationOfFlags) {
    // The letters of the expected table, bit by bit.
    const std::uint32_t kBits[] = {plat::net::kReachable,
                                   plat::net::kConnectionRequired,
                                   plat::net::kConnectionOnTraffic,
                                   plat::net::kInterventionRequired,
                                   plat::net::kConnectionOnDemand,
                                   plat::net::kIsDirect,
                                   plat::net::kIsWWAN};
    const char kLetters[] = "RCTIDdW";
    std::ostringstream table;
    for (std::istringstream in(dktest::readFile(DK_TEST_DATA_DIR "/reachability.rules")); in.peek() == '#';) {
        std::string comment;
        std::getline(in, comment);
        table << comment << "\n";
    }
    for (unsigned combination = 0; combination < 128; ++combination) {
        std::uint32_t flags = 0;
        for (int bit = 0; bit < 7; ++bit) {
            const bool set = combination >> bit & 1;
            if (set) flags |= kBits[bit];
            table << (set ? kLetters[bit] : '-');
        }
        table << " " << OrbadReachability::networkStatusForFlags(flags) << " "
              << OrbadReachability::localWiFiStatusForFlags(flags) << "\n";
    }
    EXPECT_EQ(table.str(), dktest::readFile(DK_TEST_DATA_DIR "/reachability.rules"));
}

sockaddr_in address(const char* text, sa_family_t family = AF_INET) {
    sockaddr_in a{};
    a.sin_family = family;
    inet_pton(AF_INET, text, &a.sin_addr);
    return a;
}

TEST(OrbadReachability, EachConstructorWatchesItsTarget) {
    EXPECT_EQ(OrbadReachability::reachabilityWithHostName(""), nullptr);
    EXPECT_EQ(OrbadReachability::reachabilityWithAddress(address("10.0.0.1", AF_INET6)), nullptr);
    const struct Made {
        const char* what;
        std::unique_ptr<OrbadReachability> watcher;
        int wifi, wwan, none;  // statuses under those overrides
    } made[] = {
        {"internet", OrbadReachability::reachabilityForInternetConnection(), 1, 2, 0},
        {"local Wi-Fi", OrbadReachability::reachabilityForLocalWiFi(), 1, 0, 0},
        {"host name", OrbadReachability::reachabilityWithHostName("ads.drovik.example"), 1, 2, 0},
    };
    for (const Made& m : made) {
        ASSERT_TRUE(m.watcher) << m.what;
        const std::pair<NetOverride, int> expected[] = {
            {NetOverride::WiFi, m.wifi}, {NetOverride::WWAN, m.wwan}, {NetOverride::None, m.none}};
        for (const auto& [value, status] : expected) {
            setNetOverride(value);
            EXPECT_EQ(m.watcher->currentReachabilityStatus(), status) << m.what;
        }
    }
    setNetOverride(std::nullopt);
}

TEST(OrbadReachability, EachOverrideChangePostsOnceOnTheSchedulingLoop) {
    using plat::foundation::RunLoop;
    setNetOverride(NetOverride::WiFi);
    auto watcher = OrbadReachability::reachabilityForInternetConnection();
    std::vector<std::thread::id> posts;
    plat::foundation::Observation observation = plat::foundation::NotificationCenter::defaultCenter().observe(
        orbad::kNetworkReachabilityChangedNotification, watcher.get(),
        [&](const plat::foundation::Notification&) { posts.push_back(std::this_thread::get_id()); });
    ASSERT_TRUE(watcher->startNotifier());

    RunLoop& loop = RunLoop::current();
    // From another thread, as a settings change would come; the same value again changes nothing.
    const std::pair<NetOverride, std::size_t> steps[] = {
        {NetOverride::WWAN, 1}, {NetOverride::None, 2}, {NetOverride::None, 2}, {NetOverride::WiFi, 3}};
    for (const auto& [value, count] : steps) {
        std::thread([value] { setNetOverride(value); }).join();
        for (int turns = 0; turns < 100 && posts.size() < count; ++turns) loop.runOnce(0.1);
        loop.runFor(0.05);  // room for a second post, which must not come
        EXPECT_EQ(posts.size(), count);
    }
    for (std::thread::id id : posts) EXPECT_EQ(id, std::this_thread::get_id());
    watcher->stopNotifier();
    setNetOverride(std::nullopt);
}

}  // namespace
