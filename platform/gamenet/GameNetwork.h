// The local game network: this machine's stand-in for the phone's game network. It is there only
// while the main container holds Library/LocalServices/gamenetwork.plist.
#pragma once

namespace plat::gamenet {

// The configuration's name under Library/LocalServices/.
inline constexpr const char* kServiceName = "gamenetwork";

// Registers the network's classes ("GKLocalPlayer") with the class look-up; a repeated call
// registers them again, the same.
void registerClasses();

// Whether the class look-up answers YES for "GKLocalPlayer" (registering the classes first).
bool isPresent();

}  // namespace plat::gamenet
