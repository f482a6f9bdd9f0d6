// Universally unique identifiers in their usual text form.
#pragma once

#include <string>

namespace plat::sys {

// A new random UUID as 36 characters, upper case ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), the
// form the platform's UUID strings take.
std::string newUUIDString();

// The same text form of 16 given bytes.
std::string uuidString(const unsigned char (&bytes)[16]);

}  // namespace plat::sys
