#include "engine/physics/PhysicsRecords.h"

#include <algorithm>

namespace dk::physics {

void addCategory(std::vector<int32_t>& list, int32_t category) {
    list.push_back(category);
}

void removeCategory(std::vector<int32_t>& list, int32_t category) {
    auto it = std::find(list.begin(), list.end(), category);
    if (it != list.end()) list.erase(it);
}

}  // namespace dk::physics
