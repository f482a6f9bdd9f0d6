// Game time, clock time and relative dates on a fake clock.
#include <gtest/gtest.h>

#include <ctime>

#include "port/DKDate.h"
#include "port/wrap_PlatformWrappers.h"
#include "tests/support/TestSupport.h"

namespace {

double g_monotonic = 1000.0;
double g_wall = 0.0;
const DKClockSource kFakeClock = {[] { return g_monotonic; }, [] { return g_wall; }};

class DKDateTest : public ::testing::Test {
protected:
    void SetUp() override {
        // 2014-03-05 14:07:09.25 local time.
        std::tm tm{};
        strptime("2014-03-05 14:07:09", "%Y-%m-%d %H:%M:%S", &tm);
        tm.tm_isdst = -1;
        g_wall = static_cast<double>(std::mktime(&tm)) + 0.25;
        g_monotonic = 1000.0;
        DKDate::setClockSource(&kFakeClock);
    }
    void TearDown() override { DKDate::setClockSource(nullptr); }
    dktest::LuaState L{luaopen_platformWrappers, "platformWrappers"};
};

TEST_F(DKDateTest, GameTimeFollowsOnlyTheMonotonicClock) {
    ASSERT_EQ(L.run("t0 = platformWrappers.getSystemTime()"), "");
    g_monotonic += 1.5;
    g_wall -= 3600;  // the wall clock set back an hour, then forward a day
    EXPECT_FLOAT_EQ(DKDate::getTimeAsFloat(), 1.5f);
    g_wall += 86400;
    g_monotonic += 0.5;
    EXPECT_EQ(L.run("return t0, platformWrappers.getSystemTime()"), "0,2");
}

TEST_F(DKDateTest, SoftFormatDateDescribesPastDates) {
    const std::pair<double, const char*> cases[] = {{90, "One minute ago"},
                                                    {5 * 3600, "5 hours ago"},
                                                    {36 * 3600, "Yesterday at 02:07"},  // 14:07 less 36 h
                                                    {3.5 * 86400, "3 days ago"}};
    for (auto [ago, text] : cases) EXPECT_EQ(DKDate::softFormatDate(g_wall - ago), text);
}

TEST_F(DKDateTest, GetClockTimeFillsKeysZeroToSix) {
    EXPECT_EQ(
        L.run("local t = platformWrappers.getClockTime()\n"
              "local mine = {x = 1}\n"
              "local same = platformWrappers.getClockTime(mine) == mine and mine[0] == 2014 and mine.x == 1\n"
              "return table.concat({t[0], t[1], t[2], t[3], t[4], t[5], t[6]}, ' '), same, "
              "platformWrappers.getClockTime(nil)[6]"),
        "2014 3 5 14 7 9 250,true,250");
    EXPECT_NE(L.run("platformWrappers.getClockTime(5)").find("table expected"), std::string::npos);
}

}  // namespace
