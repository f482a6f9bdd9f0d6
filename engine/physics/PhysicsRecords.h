// The records the module hangs on Box2D bodies and fixtures: who owns a body and which collision
// categories it has, and which layer and mask categories a fixture has.
//
// A definition and everything created from it share one record, so a change made through the
// definition reaches the body or fixture. Records are counted: a definition reused for a second body,
// or collected while its body lives, never frees a record that is still in use.
#pragma once

#include <cstdint>
#include <vector>

namespace dk::physics {

template <class T>
T* retain(T* record) {
    if (record) ++record->refs;
    return record;
}

template <class T>
void release(T* record) {
    if (record && --record->refs == 0) delete record;
}

// Appends; removes the first equal entry (nothing when absent). Duplicates are allowed.
void addCategory(std::vector<int32_t>& list, int32_t category);
void removeCategory(std::vector<int32_t>& list, int32_t category);

struct dkActorUserData {
    int32_t actorID = 0;
    std::vector<int32_t> categories;
    int refs = 1;
};

struct dkFixtureUserData {
    int32_t fixtureID = 0;
    std::vector<int32_t> maskCategories;
    int refs = 1;

    dkFixtureUserData() = default;
    // A copy takes the ID and the list, not the count.
    dkFixtureUserData(const dkFixtureUserData& other)
        : fixtureID(other.fixtureID), maskCategories(other.maskCategories) {}
    dkFixtureUserData& operator=(const dkFixtureUserData&) = delete;
};

}  // namespace dk::physics
