// The page-view client's errors: a domain and a code, no further information.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* kPSTrackerErrorDomain = "com.drovik.pagestats.tracker";
inline constexpr const char* kPSPersistentEventStoreErrorDomain = "com.drovik.pagestats.store";

constexpr std::uint32_t kPSTrackerInvalidInputError = 0x0BADE7A9;
constexpr std::uint32_t kPSTrackerDatabaseError = 0xBADBADDB;
constexpr std::uint32_t kPSTrackerNotStartedError = 0x00BADA55;
constexpr std::uint32_t kPSTrackerHitsPerSessionLimitError = 0xBAD5704E;
constexpr std::uint32_t kPSPersistentEventStoreNoDatabaseError = 0xDEADC0DE;

struct PSError {
    std::string domain;
    std::uint32_t code = 0;  // one of the above, or an SQLite result code in the store's domain
};
