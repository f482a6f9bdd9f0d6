// The ad network client's start, called on every activation.
#pragma once

#include <string_view>

class Orbad {
public:
    // Starts the client once per process; later calls do nothing.
    static void startWithApplicationId(std::string_view applicationId);
};
