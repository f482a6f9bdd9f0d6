// The page-view wrapper follows the start: a second start in one process, on another home with
// another game, reports that game's entries into that home's store.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analytics/pagestats/PSPersistentHitStore.h"
#include "analytics/pagestats/PSTracker.h"
#include "analytics/wrappers/DKPageStatsAnalytics.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Container.h"
#include "tests/support/TestSupport.h"

namespace {

using plat::foundation::Bundle;
using plat::foundation::Container;

class DKPageStatsAnalyticsTest : public ::testing::Test {
protected:
    void TearDown() override { PSTracker::sharedTracker().stopTracker(); }

    // `user`.app, whose DKUserID is `user`, as the main bundle and `home` as the main container.
    void start(const std::string& user, const std::string& home) {
        const std::string app = dir.file(user + ".app");
        std::filesystem::create_directories(app);
        dktest::writeFile(app + "/Info.plist", "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.test." +
                                                   user + "</string><key>DKUserID</key><string>" + user +
                                                   "</string></dict></plist>");
        std::optional<Bundle> bundle = Bundle::open(app);
        std::optional<Container> container = Container::open("com.test." + user, dir.file(home));
        ASSERT_TRUE(bundle && container);
        Bundle::setMain(std::move(*bundle));
        Container::setMain(std::move(*container));
    }
    // The hits stored in `home`'s store; a page view's path shows as "%2F" + user + "%2F".
    std::vector<std::string> hits(const std::string& home) {
        PSPersistentHitStore store(std::make_shared<PSHitBuilder>(), dir.file(home + "/Documents/pagestats.sql"));
        std::vector<std::string> out;
        for (const PSHit& hit : store.peekHits(-1).value_or(std::vector<PSHit>{})) out.push_back(hit.hitString());
        return out;
    }
    static bool mentions(const std::vector<std::string>& hits, const std::string& text) {
        for (const std::string& hit : hits)
            if (hit.find(text) != std::string::npos) return true;
        return false;
    }

    dktest::TempDir dir;
};

TEST_F(DKPageStatsAnalyticsTest, ASecondStartReportsItsOwnGameIntoItsOwnHome) {
    ASSERT_NO_FATAL_FAILURE(start("one", "first"));
    DKPageStatsAnalytics& first = DKPageStatsAnalytics::sharedAnalytics();
    EXPECT_EQ(&DKPageStatsAnalytics::sharedAnalytics(), &first);
    first.trackAppInfo("appLaunch");
    const std::vector<std::string> firstHits = hits("first");
    EXPECT_TRUE(mentions(firstHits, "%2Fone%2F")) << firstHits.size();

    ASSERT_NO_FATAL_FAILURE(start("two", "second"));
    DKPageStatsAnalytics& second = DKPageStatsAnalytics::sharedAnalytics();
    EXPECT_NE(&second, &first);
    ASSERT_NE(second.analyticsInfo()->value("DKUserID"), nullptr);
    EXPECT_EQ(*second.analyticsInfo()->value("DKUserID"), "two");
    EXPECT_TRUE(PSTracker::sharedTracker().isStarted());
    second.trackAppInfo("appLaunch");
    const std::vector<std::string> secondHits = hits("second");
    EXPECT_TRUE(mentions(secondHits, "%2Ftwo%2F")) << secondHits.size();
    EXPECT_FALSE(mentions(secondHits, "%2Fone%2F"));
    EXPECT_EQ(hits("first"), firstHits);
}

}  // namespace
