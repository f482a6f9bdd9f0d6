#include <gtest/gtest.h>
#include <lua.hpp>

#include <ctime>

#include "port/DKDate.h"
#include "port/DKPlatformPort.h"
#include "port/wrap_PlatformWrappers.h"
#include "tests/support/TestSupport.h"

using dk::DKClockSource;
using dk::DKDate;

namespace {

double g_monotonic = 1000.0;
double g_wall = 0.0;
const DKClockSource kFakeClock = {[] { return g_monotonic; }, [] { return g_wall; }};

// Seconds since 1970 of 2014-03-05 14:07:09.25 local time.
double localTime() {
    std::tm tm{};
    strptime("2014-03-05 14:07:09", "%Y-%m-%d %H:%M:%S", &tm);
    tm.tm_isdst = -1;
    return static_cast<double>(std::mktime(&tm)) + 0.25;
}

class DKDateTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_monotonic = 1000.0;
        g_wall = localTime();
        DKDate::setClockSource(&kFakeClock);
    }
    void TearDown() override { DKDate::setClockSource(nullptr); }
};

TEST_F(DKDateTest, GameTimeStartsAtZeroAndIgnoresWallClockJumps) {
    EXPECT_EQ(DKDate::getTimeAsFloat(), 0.0f);
    g_monotonic += 1.5;
    EXPECT_FLOAT_EQ(DKDate::getTimeAsFloat(), 1.5f);
    // The wall clock is set back an hour, then forward a day: game time only follows the
    // monotonic clock.
    g_wall -= 3600;
    g_monotonic += 0.25;
    EXPECT_FLOAT_EQ(DKDate::getTimeAsFloat(), 1.75f);
    g_wall += 86400;
    EXPECT_FLOAT_EQ(DKDate::getTimeAsFloat(), 1.75f);
}

TEST_F(DKDateTest, LuaSystemTimeIsGameTime) {
    dktest::LuaState L{luaopen_platformWrappers, "platformWrappers"};
    ASSERT_EQ(L.run("t0 = platformWrappers.getSystemTime()"), "");
    g_monotonic += 2.0;
    g_wall += 1e6;
    EXPECT_EQ(L.run("return t0, platformWrappers.getSystemTime()"), "0,2");
}

TEST_F(DKDateTest, SoftFormatDateDescribesPastDates) {
    EXPECT_EQ(DKDate::softFormatDate(g_wall - 90), "One minute ago");
    EXPECT_EQ(DKDate::softFormatDate(g_wall - 5 * 3600), "5 hours ago");
    // 36 hours before 14:07 is 02:07 the day before.
    EXPECT_EQ(DKDate::softFormatDate(g_wall - 36 * 3600), "Yesterday at 02:07");
    EXPECT_EQ(DKDate::softFormatDate(g_wall - 3.5 * 86400), "3 days ago");
}

class PlatformWrappersTest : public DKDateTest {
protected:
    std::string run(const char* code) { return L.run(code); }
    dktest::LuaState L{luaopen_platformWrappers, "platformWrappers"};
};

TEST_F(PlatformWrappersTest, GetClockTimeFillsKeysZeroToSix) {
    EXPECT_EQ(
        run("local t = platformWrappers.getClockTime()\n"
            "local mine = {x = 1}\n"
            "local same = platformWrappers.getClockTime(mine) == mine and mine[0] == 2014 and mine.x == 1\n"
            "return table.concat({t[0], t[1], t[2], t[3], t[4], t[5], t[6]}, ' '), same, "
            "platformWrappers.getClockTime(nil)[6]"),
        "2014 3 5 14 7 9 250,true,250");
    EXPECT_NE(run("platformWrappers.getClockTime(5)").find("table expected"), std::string::npos);
}

}  // namespace
