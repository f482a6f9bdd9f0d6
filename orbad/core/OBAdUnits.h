// The configuration's ad units: per-size settings read from "ad_units", and the choice among the
// other ad networks that may fill a size ("open allocation"), by priority or by weighted lottery.
// OBConfig keeps the table (its adUnits) and answers the banner engine through this.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "orbad/core/OrbadJSON.h"

namespace orbad {

// 64 random bits a draw. The default reads the kernel's generator (getrandom); a seeded source
// repeats its sequence, for tests and dk-orbad-cli's --seed.
using OBRandomSource = std::function<uint64_t()>;
uint64_t obSystemRandom();
OBRandomSource obSeededRandom(uint64_t seed);

// An ad's size in points, as the banner views give it.
struct OBAdSize {
    float width = 0;
    float height = 0;
};

// The unit key of a size: "%dx%d" of the truncated width and height, "fullscreen" for 999 x 999.
std::string obAdUnitKey(OBAdSize size);

// Works on a table of size key to unit properties that its owner keeps.
class OBAdUnits {
public:
    explicit OBAdUnits(Value::Dictionary& units);
    OBAdUnits(const OBAdUnits&) = delete;
    OBAdUnits& operator=(const OBAdUnits&) = delete;

    // Forgets every unit, then adds one per object of `adUnits` when it is an array.
    void load(const Value* adUnits);
    // One element of "ad_units": stored under its "size" text when it carries any setting; a
    // later element of the same size replaces the earlier.
    void addUnit(const Value& element);
    const Value::Dictionary& units() const { return m_units; }

    // The unit's properties: "enabled", "autoplay", "rm_require_user" (booleans), "refresh",
    // "autoplay_interval", "autoplay_timeout" (numbers) and "open_allocs" as received.
    const Value::Dictionary* propertiesForAdUnit(OBAdSize size) const;
    // The unit's "enabled"; without one, true only when no unit is configured at all.
    bool adUnitEnabled(OBAdSize size) const;
    bool autoPlayEnabled(OBAdSize size) const;
    bool richMediaRequiresUserInteraction(OBAdSize size) const;
    // Seconds; 30 without a unit or a "refresh".
    double refreshInteveralForAdUnit(OBAdSize size) const;
    // The unit's own "autoplay_timeout" when it has one; else 0 for 300 x 250 on `platformName`
    // "iphone", else 120.
    double autoplayTimeoutInteveralForAdUnit(OBAdSize size, std::string_view platformName) const;
    // "open_allocs.config.method"; "priority" without one; nullopt without a unit.
    std::optional<std::string> currentSelectionMethod(OBAdSize size) const;

    // The networks that may fill the size, each its entry with "name" added (an entry that is no
    // object is no candidate); nullopt without a unit, without entries, or without a method. A
    // method other than "alloc" (any case) orders them by "priority", a number or a number's text,
    // a missing one first, ties in table order (the byte order of the names).
    // Under "alloc", weights below 0 read 0, and all-zero weights become 1 each.
    std::optional<Value::Array> getOpenAllocationCandidates(OBAdSize size) const;
    // What to try next: the weighted pick when the method is exactly "alloc", else the first.
    std::optional<Value> getNextCandidate(OBAdSize size, const std::optional<Value::Array>& candidates) const;
    // A draw weighted by "alloc" (each held to 0..2^31-1); nullopt when the weights sum to 0.
    std::optional<Value> getRandomWeightedCandidate(const Value::Array& candidates) const;
    // The network's "key<n>" for the size, as text.
    std::optional<std::string> openAllocationKey(long n, std::string_view network, OBAdSize size) const;

    void setRandomSource(OBRandomSource source) { m_random = std::move(source); }

private:
    Value::Dictionary& m_units;
    OBRandomSource m_random;
};

}  // namespace orbad
