// Blob texts below the session: string escaping and the 32-bit numbers.
#include <gtest/gtest.h>

#include <string>

#include "analytics/trackwell/TrackwellBlobs.h"
#include "analytics/trackwell/tests/TrackwellTestSupport.h"

namespace {

using namespace std::string_literals;

// Every value gets the whole of JSON's escaping: a tab or a stray byte in one member once made
// the whole upload unreadable, and the collectors refused it again at every upload.
TEST(TrackwellBlobs, StringsAreEscapedWholeAndOrdinaryTextKept) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"plain words 123", "plain words 123"},
        {"caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xae", "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xae"},
        {"a\\b\"c\nd", "a\\\\b\\\"c\\nd"},
        {"\r\t\b\f", "\\r\\t\\b\\f"},
        {"\x01\x1f"s + '\0', "\\u0001\\u001f\\u0000"},
        {"\x7f/", "\x7f/"},
        {"\x80", "\xef\xbf\xbd"},                          // a lone continuation byte
        {"\xc0\x80", "\xef\xbf\xbd\xef\xbf\xbd"},          // an overlong form
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // a surrogate
        {"\xe2\x82", "\xef\xbf\xbd\xef\xbf\xbd"},          // cut short
        {"\xf5\x80\x80\x80x", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdx"},  // past U+10FFFF
    };
    for (const auto& c : cases) {
        const std::string escaped = dk::trackwell::escapeString(c.in);
        EXPECT_EQ(escaped, c.out);
        const std::string blob = dk::trackwell::BlobWriter().string(c.in, c.in).finish();
        EXPECT_EQ(dktest::JsonDoc(blob).error(), "") << blob;
    }
}

TEST(TrackwellBlobs, NumbersAreTruncatedToThirtyTwoBits) {
    EXPECT_EQ(dk::trackwell::truncateUnsigned(1700000000.99), 1700000000u);
    EXPECT_EQ(dk::trackwell::truncateUnsigned(4294967297.5), 1u);
    EXPECT_EQ(dk::trackwell::truncateUnsigned(-1.5), 4294967295u);
    EXPECT_EQ(dk::trackwell::truncateSigned(2147483648.0), -2147483647 - 1);
    EXPECT_EQ(dk::trackwell::truncateSigned(-3.9), -3);
}

// Free memory past 32 bits reads as the figure for "unknown", never as a wrapped number.
TEST(TrackwellBlobs, FreeMemoryIsClampedNotWrapped) {
    for (std::uint64_t memory : {std::uint64_t{1} << 32, std::uint64_t{3} << 31}) {
        dk::trackwell::HeaderFacts facts;
        facts.freeMemory = memory;
        dktest::JsonDoc doc(dk::trackwell::deviceFactsObject(facts));
        EXPECT_EQ(dktest::text(dktest::member(doc.root(), "dmem")), "2147483647");
    }
}

}  // namespace
