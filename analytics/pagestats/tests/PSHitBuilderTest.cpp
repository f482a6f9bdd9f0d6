// The hit builder and utilities: percent-encoding, value texts, x10 texts, the cookie, query
// parsing and the queue time. Whole hit strings of every kind are pinned by tests/analytics.
#include "analytics/pagestats/PSHitBuilder.h"

#include <gtest/gtest.h>

#include "analytics/pagestats/PSUtils.h"
#include "analytics/pagestats/tests/PagestatsTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

TEST(PSUtils, PercentEncodingKeepsTheUnreservedSetAndEscapesEveryOtherByte) {
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte) everyByte += static_cast<char>(byte);
    EXPECT_EQ(PSUtils::urlEncodeString(everyByte) + "\n", dktest::readFile(DK_TEST_DATA_DIR "/every-byte.txt"));
    EXPECT_EQ(PSUtils::urlEncodeString("é€日 x"), "%C3%A9%E2%82%AC%E6%97%A5%20x");
}

TEST(PSHitBuilder, ValueTextsLeaveZeroAndNoneEmpty) {
    EXPECT_EQ(PSHitBuilder::encodeInt(0), "");
    EXPECT_EQ(PSHitBuilder::encodeInt(-3), "-3");
    EXPECT_EQ(PSHitBuilder::encodeDouble(0.0), "");
    EXPECT_EQ(PSHitBuilder::encodeDouble(1.99), "1.990000");
    EXPECT_EQ(PSHitBuilder::encodeDouble(-0.5), "-0.500000");
    EXPECT_EQ(PSHitBuilder::encodeString(std::nullopt), "");
    EXPECT_EQ(PSHitBuilder::encodeString("a&b c"), "a%26b%20c");
}

// An event's own fields are x10-escaped as its variables are, so none of them can end a field
// early; the whole text is then percent-encoded (its variables a second time).
TEST(PSHitBuilder, EventTextEscapesItsFieldsAndItsVariables) {
    struct Case {
        PSEvent event;
        const char* utme;
    };
    const Case cases[] = {
        {dktest::event("c", "a", std::nullopt, -1), "5(c*a)"},
        {dktest::event("c", "a", "l", 3), "5(c*a*l)(3)"},
        {dktest::event("Game Over", "level-2", "", 0), "5(Game%20Over*level-2*)(0)"},
        {dktest::event("c*t", "a)b", "it's!", -1), "5(c'2t*a'1b*it'0s'3)"},
        {dktest::event("c", "a", std::nullopt, -1, {{2, "k", "a b", kPSPageScope}}),
         "5(c*a)8(2!k)9(2!a%2520b)11(2!3)"},
    };
    PSHitBuilder builder({320, 480, "fr", "ca"});
    for (const Case& c : cases)
        EXPECT_EQ(dktest::param(builder.constructEventRequestPath(c.event), "utme"), c.utme) << c.utme;
}

TEST(PSHitBuilder, CustomVariablesAreX10ProjectsInSlotOrder) {
    PSHitBuilder builder({320, 480, "fr", "ca"});
    struct Case {
        PSEvent page;
        const char* text;
    };
    const Case cases[] = {
        {dktest::pageView("/p"), ""},
        {dktest::pageView("/p", {{1, "Model", "iPhone_4S", kPSSessionScope}}), "8(1!Model)9(1!iPhone_4S)11(1!2)"},
        {dktest::pageView("/p", {{3, "b", "y", 3}, {1, "a", "x", 1}}), "8(1!a*3!b)9(1!x*3!y)11(1!1*3!3)"},
        {dktest::pageView("/p", {{5, "n*", "a*b", 2}}), "8(5!n'2)9(5!a'2b)11(5!2)"},
        {dktest::pageView("/p", {{4, "n", "a b", 2}}), "8(4!n)9(4!a%20b)11(4!2)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(builder.customVariableParamsForEvent(c.page), c.text);
        EXPECT_EQ(dktest::param(builder.constructPageviewRequestPath(c.page), "utme"), c.text);
    }
}

TEST(PSHitBuilder, CookieCarriesTheVisitAndTheReferrerPercentEncoded) {
    PSEvent page = dktest::pageView("/p");
    page.visitorId = 42;
    page.timestampFirst = 100;
    page.timestampPrevious = 200;
    page.timestampCurrent = 300;
    page.visits = 3;
    EXPECT_EQ(PSHitBuilder::getEscapedCookieString(page, nullptr), "__utma%3D1.42.100.200.300.3%3B");
    const PSReferrer referrer{"utmcsr=a%20b|utmgclid=x", 300, 3, 2};
    EXPECT_EQ(PSHitBuilder::getEscapedCookieString(page, &referrer),
              "__utma%3D1.42.100.200.300.3%3B%2B__utmz%3D1.300.3.2.utmcsr%3Da%2520b%7Cutmgclid%3Dx%3B");
}

TEST(PSUtils, QueryPiecesSplitAtTheirFirstEquals) {
    const PSUtils::Params params = PSUtils::paramsFromQuery("a=1=2&b&c=&a2=x&a2=y");
    const PSUtils::Params expected = {{"a", "1=2"}, {"b", std::nullopt}, {"c", ""}, {"a2", "y"}};
    EXPECT_EQ(params, expected);
    EXPECT_TRUE(PSUtils::paramsFromQuery(std::nullopt).empty());
}

TEST(PSUtils, QueueTimeIsAppendedOnceOrTheHitIsLeftAndLogged) {
    struct Case {
        std::string hit;
        std::string result;
        std::string log;
    };
    const std::string hit = "/__utm.gif?utmn=1&utmht=1700000000000";
    const Case cases[] = {
        {hit, hit + "&utmqt=2500", ""},
        {"/__utm.gif?utmn=1", "/__utm.gif?utmn=1", "Unable to find utmht parameter for hit: /__utm.gif?utmn=1\n"},
        {"/x?utmht=1&utmht=2", "/x?utmht=1&utmht=2", "Unable to find utmht parameter for hit: /x?utmht=1&utmht=2\n"},
        {"/x?utmht=soon", "/x?utmht=soon", "Error parsing utmht parameter: soon\n"},
        {"/x?utmht=0", "/x?utmht=0", "Error parsing utmht parameter: 0\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(PSUtils::addQueueTimeParameter(c.hit, 1700000002500), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log);
    }
}

TEST(PSUtils, LanguageAndCountryInLowerCase) {
    EXPECT_EQ(PSUtils::systemLanguageFromLanguages({"FR", "en"}), "fr");
    EXPECT_EQ(PSUtils::systemLanguageFromLanguages({}), "en");
    const std::pair<const char*, const char*> locales[] = {
        {"en_US", "us"}, {"en", ""}, {"zh_Hans_CN", "cn"}, {"es_419", "419"}, {"en_US_POSIX", "us"}, {"", ""},
    };
    for (const auto& [locale, country] : locales) EXPECT_EQ(PSUtils::systemCountryFromLocale(locale), country) << locale;
}

}  // namespace
