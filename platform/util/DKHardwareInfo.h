// The device's identity: its first Ethernet address and identifiers made from it or kept in the
// user defaults.
#pragma once

#include <string>

inline constexpr const char* kDKDeviceIdentifierKey = "DKDeviceIdentifier";

class DKHardwareInfo {
public:
    static DKHardwareInfo& sharedHardwareInfo();

    // The first Ethernet interface's address as lower-case hex pairs joined by ":"; empty when
    // there is none or the interfaces cannot be read.
    std::string macAddress() const;
    // SHA-1 of macAddress as 40 hex digits (of the empty text when there is no address).
    std::string deviceIdentifier() const;
    // The user-defaults string under "DKDeviceIdentifier", made (a new UUID) and saved the first
    // time; empty without standard user defaults.
    std::string deviceIdentifierAppleRecomended() const;

private:
    DKHardwareInfo() = default;
};
