// The ad network client's start, called on every activation, and its few class-wide entries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "orbad/core/OBSession.h"

class Orbad {
public:
    // "6.1.2".
    static std::string version();
    // Starts the client once per process: the first call makes the controller with its id; later
    // calls, with any id, do nothing. Every call is traced ("svc orbad start <id>").
    static void startWithApplicationId(std::string_view applicationId);
    // The same with the Info.plist's "OBApplicationId"; without one it throws std::logic_error and
    // counts as no start.
    static void start();
    // Into the current session (the controller is made when it can be: with no controller and no
    // "OBApplicationId" the location is dropped).
    static void updateLocation(const orbad::OBLocation& location);

    // Tests only: the controller goes and the next start starts again.
    static void resetForTesting();

private:
    static void startOnce(const std::optional<std::string>& applicationId);
};
