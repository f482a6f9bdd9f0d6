#include "orbad/core/OBAdUnits.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "orbad/core/OrbadHelper.h"

namespace orbad {

namespace {

constexpr int64_t kMaxWeight = std::numeric_limits<int32_t>::max();
constexpr const char* kBooleanKeys[] = {"enabled", "autoplay", "rm_require_user"};
constexpr const char* kIntervalKeys[] = {"refresh", "autoplay_interval", "autoplay_timeout"};

int truncatedDimension(float value) {
    if (!(value > std::numeric_limits<int>::min()) || !(value < std::numeric_limits<int>::max()))
        return std::isnan(value) ? 0
               : value < 0       ? std::numeric_limits<int>::min()
                                 : std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

bool isNumber(const Value& value) {
    return value.type() == Value::Type::Integer || value.type() == Value::Type::Real;
}

// Case-insensitive for ASCII, as the method names are.
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
    });
}

// Priorities mix numbers and their texts in real configurations: compare by numeric value, with a
// missing (or unreadable) one before every number.
std::optional<double> priorityOf(const Value& candidate) {
    const Value* priority = candidate.find("priority");
    if (!priority || priority->isNull()) return std::nullopt;
    const double value = priority->doubleValue();
    if (std::isnan(value)) return std::nullopt;
    return value;
}

int64_t weightOf(const Value& candidate) {
    const Value* alloc = candidate.find("alloc");
    return alloc ? std::clamp<int64_t>(alloc->intValue(), 0, kMaxWeight) : 0;
}

}  // namespace

uint64_t obSystemRandom() {
    uint64_t value = 0;
    auto* bytes = reinterpret_cast<char*>(&value);
    size_t have = 0;
    while (have < sizeof value) {
        const ssize_t got = getrandom(bytes + have, sizeof value - have, 0);
        if (got > 0) {
            have += static_cast<size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            // No kernel generator: the library's, which still differs from run to run.
            static std::random_device device;
            return (static_cast<uint64_t>(device()) << 32) ^ device();
        }
    }
    return value;
}

OBRandomSource obSeededRandom(uint64_t seed) {
    auto engine = std::make_shared<std::mt19937_64>(seed);
    return [engine] { return (*engine)(); };
}

std::string obAdUnitKey(OBAdSize size) {
    const int width = truncatedDimension(size.width), height = truncatedDimension(size.height);
    if (width == 999 && height == 999) return "fullscreen";
    return std::to_string(width) + "x" + std::to_string(height);
}

OBAdUnits::OBAdUnits(Value::Dictionary& units) : m_units(units), m_random(obSystemRandom) {}

void OBAdUnits::load(const Value* adUnits) {
    m_units.clear();
    if (!adUnits || !adUnits->array()) return;
    for (const Value& element : *adUnits->array()) addUnit(element);
}

void OBAdUnits::addUnit(const Value& element) {
    if (!element.dictionary()) return;
    const Value* sizeValue = element.find("size");
    if (!sizeValue || sizeValue->isNull()) return;
    std::string size = sizeValue->description();
    if (size.empty()) return;
    Value::Dictionary properties;
    for (const char* key : kBooleanKeys)
        if (const Value* value = element.find(key); value && !value->isNull())
            properties.insert_or_assign(key, Value(value->boolValue()));
    for (const char* key : kIntervalKeys) {
        const Value* value = element.find(key);
        // The time-out is ours: only a number counts, so a stray text cannot turn autoplay off.
        if (!value || value->isNull() || (std::string_view(key) == "autoplay_timeout" && !isNumber(*value)))
            continue;
        properties.insert_or_assign(key, Value(value->doubleValue()));
    }
    if (const Value* allocs = element.find("open_allocs"); allocs && !allocs->isNull())
        properties.insert_or_assign("open_allocs", *allocs);
    if (!properties.empty()) m_units.insert_or_assign(std::move(size), Value(std::move(properties)));
}

const Value::Dictionary* OBAdUnits::propertiesForAdUnit(OBAdSize size) const {
    auto it = m_units.find(obAdUnitKey(size));
    return it == m_units.end() ? nullptr : it->second.dictionary();
}

bool OBAdUnits::adUnitEnabled(OBAdSize size) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    if (unit) {
        if (auto it = unit->find("enabled"); it != unit->end()) return it->second.boolValue();
    }
    return m_units.empty();
}

bool OBAdUnits::autoPlayEnabled(OBAdSize size) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    auto it = unit ? unit->find("autoplay") : Value::Dictionary::const_iterator{};
    return unit && it != unit->end() && it->second.boolValue();
}

bool OBAdUnits::richMediaRequiresUserInteraction(OBAdSize size) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    auto it = unit ? unit->find("rm_require_user") : Value::Dictionary::const_iterator{};
    return unit && it != unit->end() && it->second.boolValue();
}

double OBAdUnits::refreshInteveralForAdUnit(OBAdSize size) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    auto it = unit ? unit->find("refresh") : Value::Dictionary::const_iterator{};
    return unit && it != unit->end() ? it->second.doubleValue() : 30.0;
}

double OBAdUnits::autoplayTimeoutInteveralForAdUnit(OBAdSize size, std::string_view platformName) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    if (unit) {
        if (auto it = unit->find("autoplay_timeout"); it != unit->end()) return it->second.doubleValue();
    }
    return obAdUnitKey(size) == "300x250" && platformName == "iphone" ? 0.0 : 120.0;
}

std::optional<std::string> OBAdUnits::currentSelectionMethod(OBAdSize size) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    if (!unit) return std::nullopt;
    auto allocs = unit->find("open_allocs");
    if (allocs == unit->end()) return "priority";
    return stringForKeyPath(allocs->second, "config.method").value_or("priority");
}

std::optional<Value::Array> OBAdUnits::getOpenAllocationCandidates(OBAdSize size) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    if (!unit) return std::nullopt;
    auto allocs = unit->find("open_allocs");
    if (allocs == unit->end() || !allocs->second.dictionary() || allocs->second.dictionary()->empty())
        return std::nullopt;
    std::optional<std::string> method;
    Value::Array candidates;
    int64_t total = 0;
    for (const auto& [name, entry] : *allocs->second.dictionary()) {
        if (name == "config") {
            method = stringForKeyPath(entry, "method");
            continue;
        }
        if (!entry.dictionary()) continue;  // a network without an entry object cannot be tried
        Value candidate = entry;
        Value::Dictionary& fields = *candidate.dictionary();
        if (auto alloc = fields.find("alloc"); alloc != fields.end() && alloc->second.intValue() < 0)
            alloc->second = Value(0);
        total += weightOf(candidate);
        fields.insert_or_assign("name", Value(name));
        candidates.push_back(std::move(candidate));
    }
    if (!method) return std::nullopt;
    if (!equalsIgnoringCase(*method, "alloc")) {
        std::stable_sort(candidates.begin(), candidates.end(), [](const Value& a, const Value& b) {
            return priorityOf(a) < priorityOf(b);  // nullopt before every number
        });
    } else if (total == 0) {
        for (Value& candidate : candidates) candidate.dictionary()->insert_or_assign("alloc", Value(1));
    }
    return candidates;
}

std::optional<Value> OBAdUnits::getNextCandidate(OBAdSize size,
                                                 const std::optional<Value::Array>& candidates) const {
    if (!candidates || candidates->empty() || !propertiesForAdUnit(size)) return std::nullopt;
    if (currentSelectionMethod(size) == "alloc") return getRandomWeightedCandidate(*candidates);
    return candidates->front();
}

std::optional<Value> OBAdUnits::getRandomWeightedCandidate(const Value::Array& candidates) const {
    // Weights are held to 31 bits and summed in 64, so no list of them can overflow the total.
    uint64_t total = 0;
    for (const Value& candidate : candidates) total += static_cast<uint64_t>(weightOf(candidate));
    if (total < 1) return std::nullopt;
    std::vector<const Value*> sorted;
    for (const Value& candidate : candidates) sorted.push_back(&candidate);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Value* a, const Value* b) { return weightOf(*a) > weightOf(*b); });
    const uint64_t r = m_random() % total + 1;
    uint64_t lower = 1;
    for (const Value* candidate : sorted) {
        const auto weight = static_cast<uint64_t>(weightOf(*candidate));
        if (r >= lower && r < lower + weight) return *candidate;
        lower += weight;
    }
    return std::nullopt;  // not reached: r <= total
}

std::optional<std::string> OBAdUnits::openAllocationKey(long n, std::string_view network,
                                                        OBAdSize size) const {
    const Value::Dictionary* unit = propertiesForAdUnit(size);
    if (!unit) return std::nullopt;
    auto allocs = unit->find("open_allocs");
    if (allocs == unit->end()) return std::nullopt;
    const Value* entry = allocs->second.find(network);
    const Value* key = entry ? entry->find("key" + std::to_string(n)) : nullptr;
    if (!key || key->isNull() || key->array() || key->dictionary()) return std::nullopt;
    if (key->string() && *key->string() == "null") return std::nullopt;
    return key->type() == Value::Type::String ? *key->string() : numberDescription(*key);
}

}  // namespace orbad
