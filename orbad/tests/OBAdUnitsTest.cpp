// The ad-unit table and the open-allocation choice.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>

#include "orbad/core/OBAdUnits.h"

namespace {

using orbad::OBAdSize;
using orbad::OBAdUnits;
using orbad::Value;

constexpr OBAdSize kBanner{320, 50};

Value json(const char* text) {
    return *Value::fromJSON(text);
}

// A table and what works on it.
struct Table {
    Value::Dictionary dictionary;
    OBAdUnits units{dictionary};
};

// A table with one 320x50 unit whose "open_allocs" is `allocs`.
std::unique_ptr<Table> tableWith(const char* allocs) {
    auto table = std::make_unique<Table>();
    Value list = json(
        (std::string(R"([{"size": "320x50", "enabled": true, "open_allocs": )") + allocs + "}]").c_str());
    table->units.load(&list);
    return table;
}

std::vector<std::string> names(const std::optional<Value::Array>& candidates) {
    std::vector<std::string> out;
    for (const Value& c : candidates.value_or(Value::Array{})) out.push_back(*c.find("name")->string());
    return out;
}

// Hands out the numbers given, in turn.
orbad::OBRandomSource scripted(std::deque<uint64_t> numbers) {
    auto left = std::make_shared<std::deque<uint64_t>>(std::move(numbers));
    return [left] {
        const uint64_t n = left->front();
        left->pop_front();
        return n;
    };
}

TEST(OBAdUnits, SizesAndLookups) {
    Table table;
    OBAdUnits& units = table.units;
    EXPECT_TRUE(units.adUnitEnabled(kBanner)) << "no units at all";
    Value list = json(R"([
        "not an object", {"enabled": true}, {"size": "", "enabled": true}, {"size": "728x90"},
        {"size": "320x50", "enabled": false},
        {"size": "320x50", "enabled": "yes", "autoplay": 1, "refresh": "45", "autoplay_timeout": 7},
        {"size": "fullscreen", "rm_require_user": true, "autoplay_timeout": "3"},
        {"size": 300250, "enabled": false}])");
    units.load(&list);
    EXPECT_EQ(units.units().size(), 3u) << "elements without a size or a setting are skipped";

    const OBAdSize odd{320.6f, 50.9f}, full{999, 999}, medium{300, 250}, missing{468, 60};
    EXPECT_TRUE(units.adUnitEnabled(odd)) << "the later 320x50 replaces the earlier";
    EXPECT_TRUE(units.autoPlayEnabled(odd));
    EXPECT_EQ(units.refreshInteveralForAdUnit(odd), 45.0);
    EXPECT_EQ(units.autoplayTimeoutInteveralForAdUnit(odd, "iphone"), 7.0);
    EXPECT_EQ(units.currentSelectionMethod(odd), "priority");

    EXPECT_TRUE(units.richMediaRequiresUserInteraction(full));
    EXPECT_FALSE(units.adUnitEnabled(full)) << "a unit without \"enabled\", among others";
    EXPECT_EQ(units.refreshInteveralForAdUnit(full), 30.0);
    EXPECT_EQ(units.autoplayTimeoutInteveralForAdUnit(full, "iphone"), 120.0)
        << "a text time-out is no number";

    EXPECT_FALSE(units.adUnitEnabled(missing)) << "units configured, none of this size";
    EXPECT_EQ(units.currentSelectionMethod(missing), std::nullopt);
    EXPECT_EQ(units.autoplayTimeoutInteveralForAdUnit(medium, "iphone"), 0.0);
    EXPECT_EQ(units.autoplayTimeoutInteveralForAdUnit(medium, "ipad"), 120.0);
    EXPECT_EQ(units.autoplayTimeoutInteveralForAdUnit(missing, "iphone"), 120.0);
    EXPECT_EQ(orbad::obAdUnitKey({300.99f, 250.2f}), "300x250");
    EXPECT_EQ(orbad::obAdUnitKey({999.5f, 999}), "fullscreen");
}

TEST(OBAdUnits, CandidatesByMethod) {
    struct Case {
        const char* allocs;
        std::vector<std::string> expected;
        std::optional<std::string> first;  // what getNextCandidate takes first, when not drawn
    };
    const Case cases[] = {
        {R"({"b": {"priority": 2}, "a": {"priority": 1}})", {}, std::nullopt},  // no "config": nothing
        {R"({"config": {}, "a": {"priority": 1}})", {}, std::nullopt},
        {R"({})", {}, std::nullopt},
        // Mixed priorities: numbers and texts by value, the missing one first, ties in table order.
        {R"({"config": {"method": "priority"}, "a": {"priority": "10"}, "b": {"priority": 9},
             "c": {}, "d": {"priority": "9"}, "e": {"priority": -1.5}})",
         {"c", "e", "b", "d", "a"},
         "c"},
        // Capitals: weighted preparation (table order, zeros lifted) but the first is taken.
        {R"({"config": {"method": "ALLOC"}, "z": {"alloc": 0, "priority": 1}, "y": {"alloc": -4}})",
         {"y", "z"},
         "y"},
    };
    for (const Case& c : cases) {
        auto table = tableWith(c.allocs);
        OBAdUnits& units = table->units;
        const auto candidates = units.getOpenAllocationCandidates(kBanner);
        EXPECT_EQ(names(candidates), c.expected) << c.allocs;
        EXPECT_EQ(candidates.has_value(), !c.expected.empty()) << c.allocs;
        const auto next = units.getNextCandidate(kBanner, candidates);
        EXPECT_EQ(next ? std::optional(*next->find("name")->string()) : std::nullopt, c.first) << c.allocs;
    }
    auto lifted = tableWith(R"({"config": {"method": "ALLOC"}, "z": {"alloc": 0}, "y": {"alloc": -4}})");
    const auto prepared = lifted->units.getOpenAllocationCandidates(kBanner);
    for (const Value& candidate : *prepared) EXPECT_EQ(candidate.find("alloc")->intValue(), 1);
}

TEST(OBAdUnits, WeightedDraws) {
    {  // 3 and 1: r = n mod 4 + 1, so 0..2 give the heavier and 3 the lighter.
        auto table =
            tableWith(R"({"config": {"method": "alloc"}, "light": {"alloc": 1}, "heavy": {"alloc": 3}})");
        OBAdUnits& units = table->units;
        units.setRandomSource(scripted({0, 1, 2, 3, 7}));
        const auto candidates = units.getOpenAllocationCandidates(kBanner);
        std::vector<std::string> picks;
        for (int i = 0; i < 5; ++i)
            picks.push_back(names({{*units.getNextCandidate(kBanner, candidates)}})[0]);
        EXPECT_EQ(picks, (std::vector<std::string>{"heavy", "heavy", "heavy", "light", "light"}));
    }
    {  // Weights 0 and 0 become 1 and 1: about half each over 200 seeded draws.
        auto table = tableWith(R"({"config": {"method": "alloc"}, "a": {"alloc": 0}, "b": {"alloc": 0}})");
        OBAdUnits& units = table->units;
        units.setRandomSource(orbad::obSeededRandom(45));
        std::map<std::string, int> counts;
        const auto even = units.getOpenAllocationCandidates(kBanner);
        for (int i = 0; i < 200; ++i) ++counts[names({{*units.getNextCandidate(kBanner, even)}})[0]];
        EXPECT_GT(counts["a"], 70);
        EXPECT_GT(counts["b"], 70);
    }
    // Huge weights are held to 2^31-1 each and summed in 64 bits, and the draw reaches the whole
    // range: the top still lands on the lightest, drawn last.
    auto table =
        tableWith(R"({"config": {"method": "alloc"}, "a": {"alloc": 1e300}, "b": {"alloc": 4294967296},
                               "c": {"alloc": 1}, "d": {"alloc": 3000000000}})");
    OBAdUnits& units = table->units;
    const auto huge = units.getOpenAllocationCandidates(kBanner);
    const uint64_t max = 2147483647, total = 3 * max + 1;
    units.setRandomSource(scripted({total - 1, 2 * max, 2 * max - 1, max, 0}));
    std::vector<std::string> picks;
    for (int i = 0; i < 5; ++i) picks.push_back(names({{*units.getNextCandidate(kBanner, huge)}})[0]);
    EXPECT_EQ(picks, (std::vector<std::string>{"c", "d", "b", "b", "a"}));

    EXPECT_EQ(units.getRandomWeightedCandidate({json(R"({"alloc": 0})")}), std::nullopt);
    EXPECT_EQ(units.getNextCandidate(kBanner, Value::Array{}), std::nullopt);
    EXPECT_EQ(units.getNextCandidate({1, 1}, huge), std::nullopt) << "no unit of that size";
}

TEST(OBAdUnits, PublisherKeys) {
    auto table = tableWith(R"({"config": {"method": "priority"}, "net.work": {"key1": "pub-1", "key2": 42,
                                    "key3": "null"}})");
    const OBAdUnits& units = table->units;
    EXPECT_EQ(units.openAllocationKey(1, "net.work", kBanner), "pub-1");
    EXPECT_EQ(units.openAllocationKey(2, "net.work", kBanner), "42");
    EXPECT_EQ(units.openAllocationKey(3, "net.work", kBanner), std::nullopt);
    EXPECT_EQ(units.openAllocationKey(4, "net.work", kBanner), std::nullopt);
    EXPECT_EQ(units.openAllocationKey(1, "other", kBanner), std::nullopt);
}

}  // namespace
